// The scale for X and Y as the user types it: the desktop programs' scale
// field and quorvel-cli's --scale read the same text the same way.
#pragma once

// The scale field's text as a scale: empty gives 1; otherwise the longest
// decimal prefix after leading white space, 0 when there is none or when it is
// not finite as a 32-bit float. At most the field's 127 characters are read.
float parseScaleText(const char* text);
