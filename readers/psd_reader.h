// The Photoshop reader and its working record.
#pragma once

#include "image/byte_reader.h"
#include "image/image.h"

struct PsdReaderState {
    ByteReader reader;
};

void setUpPsdReader(PsdReaderState* state);
void releasePsdReader(PsdReaderState* state);
bool readPsd(PsdReaderState* state, Image* image, const char* path);
