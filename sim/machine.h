// The simulated machine: the backend that tests and reflsh-sim install instead of the host.
//
// It captures the console, answers message boxes from a script (or from the terminal), reports a
// chosen console code page and keeps a virtual clock that only sleeping and drive work advance.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/backend.h"

namespace sim {

// One message box the program showed, with the answer it got.
struct Box {
  std::string text;  // UTF-8
  std::string caption;
  UINT flags = 0;
  int answer = 0;
};

class Machine : public platform::Backend {
 public:
  Machine();
  ~Machine() override;
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Makes this machine the one every Win32 call reaches, until Uninstall or destruction.
  void Install();
  void Uninstall();

  // Console: everything the program wrote, converted to UTF-8. With echo set it is also written
  // to the real standard output as it comes.
  std::string console;
  bool echo = false;
  UINT codePage = 437;

  // User: scripted answers, taken one per box. With none left a box cannot be shown (answer 0),
  // unless interactive is set: then the user at the terminal answers.
  std::deque<int> answers;
  bool interactive = false;
  std::vector<Box> boxes;

  // Virtual clock in milliseconds.
  DWORD now = 0;
  // Sum of all sleeps: the program's waiting, as opposed to the drives' working time.
  uint64_t slept = 0;

  void ConsoleWrite(const char* text) override;
  int MessageBox(const char* text, const char* caption, UINT flags) override;
  UINT OemCodePage() override { return codePage; }
  DWORD NowMs() override { return now; }
  void SleepMs(DWORD ms) override;

  // Advances the clock by work of the machine (a drive's latency), not by a sleep.
  void Advance(DWORD ms) { now += ms; }

 private:
  bool installed_ = false;
};

}  // namespace sim
