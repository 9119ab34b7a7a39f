// The program's module variables: process-wide, named as the rest of the code knows them.
#pragma once

#include <cstdint>
#include <string>

#include "common/types.h"
#include "platform/aspi.h"

#define GLOBAL(type, name, init) extern type name;
#define GLOBAL_ARRAY(type, name, dims) extern type name dims;
#include "common/globals.def"
#undef GLOBAL
#undef GLOBAL_ARRAY

// Puts every module variable back to its value at process start (tests run main many times).
void ResetGlobals();
