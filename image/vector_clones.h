// The vector-clone attributes now live with the platform's shared basics;
// this name is kept for the callers that still include it.
#pragma once

#include "platform/basics.h"
