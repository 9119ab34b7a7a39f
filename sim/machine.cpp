#include "sim/machine.h"

#include <cstdio>

namespace sim {

Machine::Machine() = default;

Machine::~Machine() {
  Uninstall();
}

void Machine::Install() {
  platform::InstallBackend(this);
  installed_ = true;
}

void Machine::Uninstall() {
  if (!installed_) return;
  platform::InstallBackend(nullptr);
  installed_ = false;
}

void Machine::ConsoleWrite(const char* text) {
  std::string utf8 = platform::ConsoleToTerminal(text, codePage, "UTF-8");
  console += utf8;
  if (echo) {
    std::fputs(utf8.c_str(), stdout);
    std::fflush(stdout);
  }
}

int Machine::MessageBox(const char* text, const char* caption, UINT flags) {
  Box box;
  box.text = platform::ConsoleToTerminal(text, codePage, "UTF-8");
  box.caption = caption != nullptr ? caption : "";
  box.flags = flags;
  if (!answers.empty()) {
    box.answer = answers.front();
    answers.pop_front();
  } else if (interactive) {
    box.answer = platform::TerminalMessageBox(box.text, caption, flags, stdin, stdout);
  }
  boxes.push_back(box);
  return box.answer;
}

void Machine::SleepMs(DWORD ms) {
  now += ms;
  slept += ms;
}

}  // namespace sim
