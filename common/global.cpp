#include "common/global.h"

#include <cstring>

#define GLOBAL(type, name, init) type name = init;
#define GLOBAL_ARRAY(type, name, dims) type name dims = {};
#include "common/globals.def"
#undef GLOBAL
#undef GLOBAL_ARRAY

void ResetGlobals() {
#define GLOBAL(type, name, init) name = init;
#define GLOBAL_ARRAY(type, name, dims) std::memset(static_cast<void*>(name), 0, sizeof name);
#include "common/globals.def"
#undef GLOBAL
#undef GLOBAL_ARRAY
}
