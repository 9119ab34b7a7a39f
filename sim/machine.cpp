#include "sim/machine.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace sim {

namespace {
Machine* gCurrent = nullptr;
}

Machine* Current() {
  return gCurrent;
}

void FillSense(uint8_t* sense18, const Sense& sense) {
  std::memset(sense18, 0, 18);
  sense18[0] = 0x70;  // current error, fixed format
  sense18[2] = sense.key;
  sense18[7] = 10;  // additional sense length
  sense18[12] = sense.asc;
  sense18[13] = sense.ascq;
}

Machine::Machine() {
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 5;
  version.dwMinorVersion = 1;
  version.dwBuildNumber = 2600;
  version.dwPlatformId = VER_PLATFORM_WIN32_NT;
}

Machine::~Machine() {
  Uninstall();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void Machine::Install() {
  if (installed_) return;
  platform::InstallBackend(this);
  gCurrent = this;
  char cwd[4096];
  oldCwd_ = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "";
  if (chdir(Folder().c_str()) != 0) std::perror("sim: cannot enter the firmware folder");
  installed_ = true;
}

void Machine::Uninstall() {
  if (!installed_) return;
  platform::InstallBackend(nullptr);
  if (gCurrent == this) gCurrent = nullptr;
  if (!oldCwd_.empty() && chdir(oldCwd_.c_str()) != 0) std::perror("sim: cannot leave the folder");
  installed_ = false;
}

const std::string& Machine::Folder() {
  if (folder_.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "reflsh-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("sim: cannot make the firmware folder");
      std::abort();
    }
    folder_ = pattern;
  }
  return folder_;
}

void Machine::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream out(std::filesystem::path(Folder()) / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
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
  Pace(ms);
  now += ms;
  slept += ms;
  ClockMoved();
}

void Machine::Advance(DWORD ms) {
  Pace(ms);
  now += ms;
  ClockMoved();
}

void Machine::Pace(DWORD ms) const {
  if (pace > 0 && ms > 0)
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms * pace));
}

BOOL Machine::GetVersion(LPOSVERSIONINFOA info) {
  if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *info = version;
  info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  return TRUE;
}

void* Machine::Alloc(size_t bytes) {
  if (failAlloc > 0 && --failAlloc == 0) return nullptr;
  return Backend::Alloc(bytes);
}

Slot& Machine::AddAtLetter(std::unique_ptr<Drive> drive, char letter) {
  Slot& s = slots.emplace_back();
  s.drive = std::move(drive);
  s.letter = letter;
  return s;
}

Slot& Machine::AddOnAdapter(std::unique_ptr<Drive> drive, int ha, int target) {
  Slot& s = slots.emplace_back();
  s.drive = std::move(drive);
  s.ha = ha;
  s.target = target;
  return s;
}

Slot& Machine::AddOnIde(std::unique_ptr<Drive> drive, int ideId) {
  Slot& s = slots.emplace_back();
  s.drive = std::move(drive);
  s.ideId = ideId;
  return s;
}

static bool Matches(const Fault& f, int slot, const Command& c) {
  if (f.slot != -1 && f.slot != slot) return false;
  if (static_cast<int>(f.cdb.size()) > c.cdbLen) return false;
  for (size_t i = 0; i < f.cdb.size(); ++i)
    if (f.cdb[i] != -1 && f.cdb[i] != c.cdb[i]) return false;
  return true;
}

Result Machine::Dispatch(int slot, const Command& command, uint32_t timeoutMs,
                         const std::string& where) {
  LogEntry entry;
  entry.slot = slot;
  entry.where = where;
  entry.cdb.assign(command.cdb, command.cdb + command.cdbLen);
  entry.dir = command.dir;
  entry.length = command.length;
  entry.timeoutMs = timeoutMs;
  entry.time = now;
  if (keepData && command.dir == Dir::Out && command.data != nullptr)
    entry.data.assign(command.data, command.data + command.length);

  Result result;
  const Fault* hit = nullptr;
  for (Fault& f : faults) {
    if (!Matches(f, slot, command)) continue;
    ++f.seen;
    if (f.nth == 0 || f.seen == f.nth) {
      hit = &f;
      break;
    }
  }
  Slot& s = slots.at(static_cast<size_t>(slot));
  if (hit != nullptr && hit->kind == Fault::Kind::Vanish) s.present = false;
  if (!s.present) {
    result.noResponse = true;
  } else if (hit != nullptr && hit->kind == Fault::Kind::Timeout) {
    result.noResponse = true;
  } else if (hit != nullptr) {
    result.status = hit->status;
    result.sense = hit->sense;
  } else {
    Command c = command;
    c.now = now;
    result = s.drive->Execute(c);
  }
  entry.faulted = hit != nullptr;
  entry.status = result.status;
  entry.sense = result.sense;
  entry.transferred = result.transferred;
  entry.timedOut = TimedOut(result, timeoutMs);
  log.push_back(std::move(entry));
  return result;
}

std::vector<const LogEntry*> Machine::Sent(std::initializer_list<int> cdbStart) const {
  std::vector<const LogEntry*> out;
  for (const LogEntry& e : log) {
    bool match = e.cdb.size() >= cdbStart.size();
    size_t i = 0;
    for (int b : cdbStart) {
      if (!match) break;
      match = b == -1 || e.cdb[i++] == b;
    }
    if (match) out.push_back(&e);
  }
  return out;
}

}  // namespace sim
