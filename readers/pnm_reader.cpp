// Placeholder until the reader exists: every file is refused cleanly.
#include "readers/pnm_reader.h"

void setUpPnmReader(PnmReaderState* state) { *state = PnmReaderState{}; }
void releasePnmReader(PnmReaderState* state) { resetReader(&state->reader); }
bool readPnm(PnmReaderState*, Image*, const char*) { return false; }
