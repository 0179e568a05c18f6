#include "app/apply_run.h"

#include "app/session.h"
#include "readers/readers.h"

int applyAdjustments() {
    if (!session) return 0;
    // Every run starts again from the file on disk, so adjustments never
    // accumulate.
    Image fresh{};
    if (!readImageFile(session->openPath, &fresh)) {
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
