// reflsh-sim: the program over a simulated machine, for watching an update without a drive.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/global.h"
#include "driver/reflsh.h"
#include "sim/rig.h"

namespace {

const char kUsage[] =
    "Usage: reflsh-sim [options]\n"
    "\n"
    "Runs reflsh over a simulated machine: virtual Kestrel drives, a virtual clock, and firmware\n"
    "files generated in a temporary folder that is the program's current directory. Questions\n"
    "are asked at this terminal (answer y or n); end of input counts as a box that could not be\n"
    "shown.\n"
    "\n"
    "Default set-up: one QXR-515L (drive D:) at revision 1.21 dated 08/07/10 with OEM mark\n"
    "KES_ADV, no disc, RPC scheme 1, on Windows XP; the image A0414431.122 at 1.22 dated\n"
    "2008-07-25, 2 MiB.\n"
    "\n"
    "Set-up:\n"
    "  --drives N            N recordable drives (1..23), at D:, E:, ...\n"
    "  --drive-rev R         firmware revision of the drives (default 1.21)\n"
    "  --image-rev R         revision of the image (default 1.22)\n"
    "  --image-date YYYYMMDD date of the image (default 20080725; earlier ones are refused)\n"
    "  --wrong-image         offer a kernel-part image as the normal part\n"
    "  --no-image            no image file at all\n"
    "  --disc                a disc is loaded in the first drive\n"
    "  --kernel              the first drive is in kernel mode, as after an interrupted update\n"
    "  --rpc N               RPC scheme of the first drive (default 1)\n"
    "  --fault HEX[:N]       the N-th command (default the first) whose CDB starts with the\n"
    "                        bytes HEX fails with a hardware error (3b07f0: a normal block)\n"
    "  --power-loss K        the first drive loses power after K image blocks\n"
    "  --windows98           Windows 98: the ASPI layer with one IDE host adapter\n"
    "  --intel               the Intel IDE driver (with --windows98: adapter \"intelata\")\n"
    "  --rom                 a read-only QXD-516 at 1.05 and its HEX image QXD516.HEX at 1.06\n"
    "                        instead of recordable drives\n"
    "  --japanese            Japanese messages (console code page 932)\n"
    "\n"
    "Running:\n"
    "  --yes                 answer Yes to every question\n"
    "  --pace MS             real milliseconds per virtual second (default 50; 0: no waiting)\n"
    "  --log                 print the commands the drives received, at the end\n"
    "  -h, --help            this text\n"
    "\n"
    "The exit code is the program's.\n";

struct Options {
  int drives = 1;
  std::string driveRev = "1.21";
  std::string imageRev = "1.22";
  uint32_t imageDate = 0x20080725;
  bool wrongImage = false;
  bool noImage = false;
  bool disc = false;
  bool kernel = false;
  int rpc = 1;
  std::vector<int> faultCdb;
  int faultNth = 1;
  int powerLoss = -1;
  bool windows98 = false;
  bool intel = false;
  bool rom = false;
  bool japanese = false;
  bool yes = false;
  double pace = 50;
  bool log = false;
};

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "reflsh-sim: %s\n(see reflsh-sim --help)\n", why.c_str());
  std::exit(2);
}

// A BCD date from its decimal digits: 20080725 -> 0x20080725.
uint32_t BcdDate(const std::string& digits) {
  if (digits.size() != 8 || digits.find_first_not_of("0123456789") != std::string::npos)
    Fail("a date is 8 digits, YYYYMMDD");
  return static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
}

std::string Revision(const std::string& text) {
  if (text.size() != 4 || text[1] != '.') Fail("a revision reads like 1.22");
  return text;
}

int Number(const std::string& text, int low, int high) {
  char* end = nullptr;
  long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < low || n > high)
    Fail("expected a number from " + std::to_string(low) + " to " + std::to_string(high));
  return static_cast<int>(n);
}

void ParseFault(const std::string& text, Options& o) {
  std::string hex = text.substr(0, text.find(':'));
  if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 32 ||
      hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    Fail("--fault takes the leading CDB bytes in hexadecimal, e.g. 3b07f0");
  for (size_t i = 0; i < hex.size(); i += 2)
    o.faultCdb.push_back(static_cast<int>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  if (text.find(':') != std::string::npos)
    o.faultNth = Number(text.substr(text.find(':') + 1), 1, 1000000);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(a + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a == "--drives") {
      o.drives = Number(value(), 1, 23);
    } else if (a == "--drive-rev") {
      o.driveRev = Revision(value());
    } else if (a == "--image-rev") {
      o.imageRev = Revision(value());
    } else if (a == "--image-date") {
      o.imageDate = BcdDate(value());
    } else if (a == "--wrong-image") {
      o.wrongImage = true;
    } else if (a == "--no-image") {
      o.noImage = true;
    } else if (a == "--disc") {
      o.disc = true;
    } else if (a == "--kernel") {
      o.kernel = true;
    } else if (a == "--rpc") {
      o.rpc = Number(value(), 0, 255);
    } else if (a == "--fault") {
      ParseFault(value(), o);
    } else if (a == "--power-loss") {
      o.powerLoss = Number(value(), 0, 1000);
    } else if (a == "--windows98") {
      o.windows98 = true;
    } else if (a == "--intel") {
      o.intel = true;
    } else if (a == "--rom") {
      o.rom = true;
    } else if (a == "--japanese") {
      o.japanese = true;
    } else if (a == "--yes") {
      o.yes = true;
    } else if (a == "--pace") {
      o.pace = Number(value(), 0, 10000);
    } else if (a == "--log") {
      o.log = true;
    } else {
      Fail("unknown option " + a);
    }
  }
  return o;
}

// The simulated machine, with questions answered at the terminal or, with --yes, by itself.
class DemoMachine : public sim::Machine {
 public:
  bool yes = false;

  int MessageBox(const char* text, const char* caption, UINT flags) override {
    if (!yes) return Machine::MessageBox(text, caption, flags);
    std::string body = platform::ConsoleToTerminal(text, codePage, "UTF-8");
    char answer[] = "yes\n";
    std::FILE* in = fmemopen(answer, std::strlen(answer), "r");
    int button = platform::TerminalMessageBox(body, caption, flags, in, stdout);
    std::fclose(in);
    std::fputs("yes\n", stdout);
    boxes.push_back({body, caption != nullptr ? caption : "", flags, button});
    return button;
  }
};

void SetUpRecordable(const Options& o, sim::Rig& rig) {
  for (int i = 0; i < o.drives; ++i) {
    sim::RwConfig c;
    c.revision = o.driveRev;
    if (i == 0) {
      c.disc = o.disc ? sim::Disc::Loaded : sim::Disc::None;
      c.startInKernel = o.kernel;
      c.rpcScheme = static_cast<uint8_t>(o.rpc);
      c.powerLossAfterBlocks = o.powerLoss;
    }
    rig.AddRw(c);
  }
  if (o.noImage) return;
  sim::RwImageSpec image;
  image.revision = o.imageRev + " ";
  image.date = sim::LongDateText(o.imageDate);
  if (o.wrongImage) image.part = 'K';
  rig.WriteRwImage(image);
}

void SetUpReadOnly(const Options& o, sim::Rig& rig) {
  sim::RomImageSpec old;
  old.revision = "1.05";
  sim::RomConfig c;
  c.rom = sim::BuildRomImage(old);
  c.disc = o.disc ? sim::Disc::Loaded : sim::Disc::None;
  rig.AddRom(c);
  sim::RomImageSpec next = old;
  next.revision = "1.06";
  next.date = "2008/03/14";
  next.seed = 7;
  if (!o.noImage) rig.WriteHex(sim::BuildRomImage(next), "QXD516.HEX");
  rig.UseRomDefinition(next, 5, "1.06");
}

std::string Duration(uint64_t ms) {
  char text[64];
  uint64_t s = ms / 1000;
  if (s >= 60) {
    std::snprintf(text, sizeof text, "%llu min %02llu s", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu.%01llu s", static_cast<unsigned long long>(s),
                  static_cast<unsigned long long>(ms % 1000 / 100));
  }
  return text;
}

void PrintLog(const sim::Machine& m) {
  std::printf("\n[reflsh-sim] %zu commands reached the drives:\n", m.log.size());
  for (const sim::LogEntry& e : m.log) {
    std::string cdb;
    for (uint8_t b : e.cdb) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X ", b);
      cdb += hex;
    }
    const char* dir = e.dir == sim::Dir::In ? "in " : e.dir == sim::Dir::Out ? "out" : "   ";
    std::printf("  %9.3f s  %-7s %-36s %s %6u  ", e.time / 1000.0, e.where.c_str(), cdb.c_str(),
                dir, e.length);
    if (e.timedOut) {
      std::printf("no answer\n");
    } else if (e.status != sim::kGood) {
      std::printf("check %X/%02X/%02X\n", e.sense.key, e.sense.asc, e.sense.ascq);
    } else {
      std::printf("good\n");
    }
  }
}

void PrintFooter(const sim::Machine& m, int code) {
  std::printf(
      "\n\n[reflsh-sim] exit code %d; %s of virtual time, of which the program waited %s.\n", code,
      Duration(m.now).c_str(), Duration(m.slept).c_str());
  for (const sim::Slot& s : m.slots) {
    std::string where =
        s.letter != 0 ? std::string(1, s.letter) + ":" : "target " + std::to_string(s.target);
    if (auto* rw = dynamic_cast<const sim::RwDrive*>(s.drive.get())) {
      const sim::RwConfig& c = rw->Config();
      std::printf("[reflsh-sim] %s %s%s at %s%s\n", where.c_str(), c.vendor.c_str(),
                  c.product.c_str(), c.revision.c_str(),
                  !rw->Powered()   ? ", without power"
                  : rw->InKernel() ? ", in kernel mode"
                                   : "");
    } else if (auto* rom = dynamic_cast<const sim::RomDrive*>(s.drive.get())) {
      std::printf("[reflsh-sim] %s KESTREL DVD-ROM QXD-516 at %s\n", where.c_str(),
                  rom->Revision().c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o = Parse(argc, argv);
  DemoMachine machine;
  machine.echo = true;
  machine.interactive = true;
  machine.yes = o.yes;
  machine.pace = o.pace / 1000.0;
  machine.codePage = o.japanese ? 932 : 437;

  sim::Rig rig(machine);
  if (o.windows98) rig.Windows98(o.intel ? "intelata" : "ESDI_506");
  if (o.intel && !o.windows98)
    machine.registry["HKLM\\SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver"] = {};
  if (o.rom) {
    SetUpReadOnly(o, rig);
  } else {
    SetUpRecordable(o, rig);
  }
  if (!o.faultCdb.empty()) {
    sim::Fault f;
    f.cdb = o.faultCdb;
    f.nth = o.faultNth;
    f.sense = {4, 0x44, 0x00};  // hardware error: internal target failure
    machine.faults.push_back(f);
  }

  ResetGlobals();
  machine.Install();
  char name[] = "reflsh";
  char* args[] = {name, nullptr};
  int code = ReflshMain(1, args);
  machine.Uninstall();

  if (o.log) PrintLog(machine);
  PrintFooter(machine, code);
  return code;
}
