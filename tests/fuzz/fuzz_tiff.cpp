#include "readers/float_picture.h"
#include "tests/fuzz/fuzz_common.h"

// The TIFF reader through the dispatcher, and the same bytes read as numbers
// (readFloatTiff): a picture of the size it declares, or none at all.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FloatPicture picture;
    LoadFailure failure;
    if (readFloatTiff(std::span<const uint8_t>(data, size), &picture, failure)) {
        if (!picture.samples || !imageSizeAllowed(picture.width, picture.height) ||
            (picture.channels != 1 && picture.channels != 3 && picture.channels != 4))
            fuzzing::broken("a float picture of its declared size");
        volatile float last = picture.samples[size_t{picture.width} * picture.height * picture.channels - 1];
        (void)last;
    } else if (picture.samples) {
        fuzzing::broken("a failed float read leaves the picture reset");
    }
    return fuzzing::fuzzReader("tif", data, size);
}
