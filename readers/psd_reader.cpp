// Placeholder until the reader exists: every file is refused cleanly.
#include "readers/psd_reader.h"

void setUpPsdReader(PsdReaderState* state) { *state = PsdReaderState{}; }
void releasePsdReader(PsdReaderState* state) { resetReader(&state->reader); }
bool readPsd(PsdReaderState*, Image*, const char*) { return false; }
