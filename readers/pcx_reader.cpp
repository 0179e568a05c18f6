// Placeholder until the reader exists: every file is refused cleanly.
#include "readers/readers.h"

bool readPcx(ByteReader*, Image*, const char*) { return false; }
