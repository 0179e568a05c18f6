// Formats whose readers are still to come: they refuse every file cleanly.
#include "readers/pnm_reader.h"
#include "readers/psd_reader.h"
#include "readers/readers.h"

bool readTga(ByteReader*, Image*, const char*) { return false; }
bool readPcx(ByteReader*, Image*, const char*) { return false; }
bool readDds(ByteReader*, Image*, const char*) { return false; }

void setUpPsdReader(PsdReaderState* state) { *state = PsdReaderState{}; }
void releasePsdReader(PsdReaderState* state) { resetReader(&state->reader); }
bool readPsd(PsdReaderState*, Image*, const char*) { return false; }

void setUpPnmReader(PnmReaderState* state) { *state = PnmReaderState{}; }
void releasePnmReader(PnmReaderState* state) { resetReader(&state->reader); }
bool readPnm(PnmReaderState*, Image*, const char*) { return false; }
