// Saving a file so that a failure never harms an earlier one: the content is
// written beside the target under a temporary name, which replaces the
// target only once the content is whole.
#pragma once

#include "platform/codecs.h"

// Calls `fill` with a sink that writes to the temporary file; when it
// returns true and everything reached the disk, the temporary file replaces
// `path`. On failure no temporary file is left behind and errno holds the
// system's reason (no such folder, permission denied, disk full...), or 0
// when `fill` failed on its own. Safe to use from several threads on
// different paths at once.
bool writeFileAtomically(const char* path, bool (*fill)(void* context, const ByteSink& out), void* context);
