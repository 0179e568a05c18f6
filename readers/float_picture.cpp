#include "readers/float_picture.h"

#include <cstdlib>

FloatPicture::~FloatPicture() { reset(); }

void FloatPicture::reset() {
    std::free(samples);
    samples = nullptr;
    width = height = channels = 0;
}
