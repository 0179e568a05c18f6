// The row copies now live with the platform's shared basics; this name is
// kept for the callers that still include it.
#pragma once

#include "platform/basics.h"
