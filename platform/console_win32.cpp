// Console output on Windows: the text goes to standard output as it is.
#if defined(_WIN32)

#include <cstdio>

#include "platform/win32.h"

void ConsoleWrite(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

#endif  // _WIN32
