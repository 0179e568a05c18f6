// OpenEXR: the header walk and the library behind it. A picture read must
// have the size and channels it declares, every sample there to be read;
// a failure is damage or a named kind.
#include "readers/float_picture.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FloatPicture picture;
    LoadFailure failure;
    if (readExr(std::span<const uint8_t>(data, size), &picture, failure)) {
        if (!picture.samples || !imageSizeAllowed(picture.width, picture.height)) fuzzing::broken("size within limits");
        if (picture.channels != 1 && picture.channels != 3 && picture.channels != 4) fuzzing::broken("1, 3 or 4 channels");
        // Every sample is read, so that the sanitizer sees the buffer is whole.
        const size_t count = size_t{picture.width} * picture.height * picture.channels;
        unsigned finite = 0;
        for (size_t i = 0; i < count; ++i) finite += picture.samples[i] - picture.samples[i] == 0.0f;
        if (finite > count) fuzzing::broken("counted");
    } else if (failure.problem == LoadProblem::refusedKind ? failure.text[0] == '\0'
                                                           : failure.problem != LoadProblem::none) {
        fuzzing::broken("a failure is damage or a named kind");
    }
    return 0;
}
