// The Netpbm reader (P1 to P6) and its working record.
#pragma once

#include "image/byte_reader.h"
#include "image/image.h"

struct PnmReaderState {
    ByteReader reader;
};

void setUpPnmReader(PnmReaderState* state);
void releasePnmReader(PnmReaderState* state);
bool readPnm(PnmReaderState* state, Image* image, const char* path);
