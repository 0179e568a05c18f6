// The ByteReader now lives with the platform's shared basics; this name is
// kept for the callers that still include it.
#pragma once

#include "platform/basics.h"
