// The host backend: the real Linux machine.
#if !defined(_WIN32)

#include <time.h>

#include <cerrno>
#include <cstdio>

#include "platform/backend.h"

namespace platform {
namespace {

class Host : public Backend {
 public:
  void ConsoleWrite(const char* text) override {
    std::string out = ConsoleToTerminal(text, OemCodePage(), LocaleCharset(ConsoleLocale()));
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
  }

  int MessageBox(const char* text, const char* caption, UINT flags) override {
    std::string body = ConsoleToTerminal(text, OemCodePage(), LocaleCharset(ConsoleLocale()));
    return TerminalMessageBox(body, caption, flags, stdin, stdout);
  }

  UINT OemCodePage() override { return LocaleCodePage(ConsoleLocale()); }

  DWORD NowMs() override {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
  }

  // Sleeps to an absolute deadline, so an interrupted sleep neither returns early nor drifts.
  void SleepMs(DWORD ms) override {
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
  }
};

}  // namespace

Backend& HostBackend() {
  static Host host;
  return host;
}

}  // namespace platform

#endif  // !_WIN32
