#include "app/apply_run.h"

#include "app/session.h"
#include "readers/readers.h"

int applyAdjustments() {
    if (!session) return 0;
    // Every run starts again from the file on disk (or the map as it was
    // made), so adjustments never accumulate.
    Image fresh{};
    const bool taken = session->made.pixels ? copyImagePixels(session->made, &fresh)
                                            : readImageFile(session->openPath, &fresh);
    if (!taken) {
        resetImage(&fresh);
        return 0;
    }
    adoptImage(&fresh);
    adjustLoadedImage();
    buildThumbnail();
    resetImage(&fresh);
    return 1;
}

void adjustLoadedImage() {
    adjustPixels(&session->image, session->options);
    buildDisplayBitmap(&session->image);
}
