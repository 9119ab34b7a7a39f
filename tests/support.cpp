#include "tests/support.h"

#include <regex>

#include "common/global.h"
#include "driver/reflsh.h"
#include "ui/message.h"

namespace test {

void Fresh(sim::Machine& machine) {
  ResetGlobals();
  machine.Install();
}

int RunMain(sim::Machine& machine, const std::vector<std::string>& args) {
  Fresh(machine);
  std::vector<std::string> storage = args;
  storage.insert(storage.begin(), "reflsh");
  std::vector<char*> argv;
  for (std::string& s : storage)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  int code = ReflshMain(static_cast<int>(storage.size()), argv.data());
  machine.Uninstall();
  return code;
}

std::string En(int id) {
  return FormatMsg(kMsgEn[id], id);
}

std::string Ja(int id) {
  return platform::ConvertText(FormatMsg(kMsgJa[id], id), "CP932", "UTF-8");
}

std::string Placeholders(const char* format) {
  static const std::regex conversion("%[-+ #0]*[0-9]*(\\.[0-9]+)?(l|h|ll)?[a-zA-Z%]");
  std::string out;
  std::string text = format;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion);
       it != std::sregex_iterator(); ++it) {
    if (it->str() == "%%") continue;
    if (!out.empty()) out += ' ';
    out += it->str();
  }
  return out;
}

}  // namespace test
