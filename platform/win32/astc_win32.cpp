// ASTC on Windows: the system has no library for it, so nothing is encoded
// or decoded (the readers and the command line say so before they get here).
#include "platform/codecs.h"

bool platformHasAstc() { return false; }

AstcEncoder* platformOpenAstcEncoder(const AstcEncoderSettings&) { return nullptr; }

void platformCloseAstcEncoder(AstcEncoder*) {}

bool platformAstcEncode(AstcEncoder*, const AstcPicture&, uint8_t*, size_t, unsigned) { return false; }

bool platformAstcEncoderReset(AstcEncoder*) { return false; }

bool platformDecodeAstc(std::span<const uint8_t>, uint32_t, uint32_t, uint32_t, uint32_t, uint8_t*) { return false; }
