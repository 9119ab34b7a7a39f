// What the whole-run tests of recordable-drive updates share: the console's texts, reading the
// command log as the update's steps, a machine on which a test may act in the middle of a run, and
// the usual set-up of one drive with its image.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "sim/rig.h"
#include "sim/rw_drive.h"
#include "sim/scsi.h"
#include "tests/support.h"

namespace rwscen {

// Files of the built-in definition: the normal part, and the kernel part beside it.
inline constexpr char kNormalFile[] = "A0414431.122";
inline constexpr char kKernelFile[] = "A0414430.122";

inline constexpr char kBanner[] = "\n/// ODD Firmware Update Utility Ver2.57C\n";
inline constexpr char kCurrent121[] =
    "\nCurrent Revision>> KESTREL DVD-RW  QXR-515L 1.21  08/07/10";
inline constexpr char kCurrentKernel[] =
    "\nCurrent Revision>> KESTREL DVD-RW  QXR-515L 0000  08/05/20";
inline constexpr char kNew122[] = "\nNew Revision    >> KESTREL DVD-RW  QXR-515L 1.22  08/07/25";
inline constexpr char kSuccess[] = "\nSuccess to update the firmware.";
inline constexpr char kCompleted[] = "\r\nUpdate operation is completed.";
inline constexpr char kTerminated[] = "\r\nUpdate program is terminated by occuring an error.\r\n";
inline constexpr char kReflashingLine[] =
    "\rProcessing 100% --> Data transfer complete\r\nNow internal re-flashing...";
inline std::string Start(int n) {
  return "\r\nStart updating the device No." + std::to_string(n) + ".";
}
inline std::string Updated(int n) {
  return "\r\n" + std::to_string(n) + "drive(s) have been updated successfully.";
}

// The kernel part's image as the definition's drive takes it: four blocks, version 01.05.
inline sim::RwImageSpec KernelSpec() {
  return sim::RwImageSpec{.size = 0x20000, .part = 'K', .kernelVersion = "0105", .seed = 7};
}

// The boxes shown, a letter each: Q a Yes/No question, S stop, W warning, I information.
inline std::string Boxes(const sim::Machine& m) {
  std::string out;
  for (const sim::Box& b : m.boxes)
    out += b.flags == (MB_YESNO | MB_ICONQUESTION)   ? 'Q'
           : b.flags == (MB_OK | MB_ICONSTOP)        ? 'S'
           : b.flags == (MB_OK | MB_ICONEXCLAMATION) ? 'W'
           : b.flags == (MB_OK | MB_ICONINFORMATION) ? 'I'
                                                     : '?';
  return out;
}

// One image block as the CDB of WRITE BUFFER mode 7 gives it.
struct Block {
  uint32_t offset = 0;
  uint32_t length = 0;
  bool operator==(const Block&) const = default;
};
// The blocks sent to buffer `bufferId`: 0xF0 the normal part, 0xFE the kernel part.
inline std::vector<Block> Blocks(const sim::Machine& m, uint8_t bufferId = 0xF0) {
  std::vector<Block> out;
  for (const sim::LogEntry* e : m.Sent({0x3B, 0x07, bufferId}))
    out.push_back({sim::Be24(e->cdb.data() + 3), sim::Be24(e->cdb.data() + 6)});
  return out;
}
// `count` whole blocks of 0x8000 bytes from offset 0.
inline std::vector<Block> WholeBlocks(uint32_t count) {
  std::vector<Block> out;
  for (uint32_t i = 0; i < count; ++i)
    out.push_back({i * 0x8000, 0x8000});
  return out;
}

// Index in the log of the first entry at or after `from` whose CDB begins with `cdb`; log size
// when there is none.
inline size_t Find(const sim::Machine& m, std::initializer_list<uint8_t> cdb, size_t from = 0) {
  for (size_t i = from; i < m.log.size(); ++i)
    if (m.log[i].cdb.size() >= cdb.size() &&
        std::equal(cdb.begin(), cdb.end(), m.log[i].cdb.begin()))
      return i;
  return m.log.size();
}

// Virtual milliseconds between sending log entry `i` and the command after it.
inline uint32_t GapAfter(const sim::Machine& m, size_t i) {
  return m.log.at(i + 1).time - m.log.at(i).time;
}

// The percentages of the "\rProcessing N%" lines, in order (the completion line included).
inline std::vector<int> Percents(const std::string& console) {
  static const std::string kLine = "\rProcessing ";
  std::vector<int> out;
  for (size_t at = console.find(kLine); at != std::string::npos; at = console.find(kLine, at + 1))
    out.push_back(std::stoi(console.substr(at + kLine.size())));
  return out;
}

// Succeeds when every piece occurs in `text`, each after the one before it.
inline ::testing::AssertionResult InOrder(const std::string& text,
                                          const std::vector<std::string>& pieces) {
  size_t at = 0;
  for (const std::string& piece : pieces) {
    size_t found = text.find(piece, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure()
             << "\"" << piece << "\" is missing after offset " << at << " of:\n"
             << text;
    at = found + piece.size();
  }
  return ::testing::AssertionSuccess();
}

inline bool Has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// A machine on which a test may act at points of a run: when a box comes up (before the
// scripted answer is given), and when the program writes to the console.
class ScriptedMachine : public sim::Machine {
 public:
  // Called with the text of each box as it is shown, and with each console write (UTF-8).
  std::function<void(const std::string& text)> onBox;
  std::function<void(const std::string& text)> onWrite;

  int MessageBox(const char* text, const char* caption, UINT flags) override {
    int answer = sim::Machine::MessageBox(text, caption, flags);
    if (onBox) onBox(boxes.back().text);
    return answer;
  }
  void ConsoleWrite(const char* text) override {
    size_t before = console.size();
    sim::Machine::ConsoleWrite(text);
    if (onWrite) onWrite(console.substr(before));
  }
};

// A machine (of type M) with one recordable drive of `config`, behind the Windows 98 host adapter
// `adapter` when there is one, and the normal image of `want` (kept in `image`) beside the program.
template <class M = sim::Machine>
struct Scene : M {
  explicit Scene(sim::RwConfig config = {}, const char* adapter = nullptr,
                 const sim::RwImageSpec& want = {})
      : drive(Add(rig, std::move(config), adapter)), image(rig.WriteRwImage(want)) {}
  static sim::RwDrive& Add(sim::Rig& rig, sim::RwConfig config, const char* adapter) {
    if (adapter != nullptr) rig.Windows98(adapter);
    return rig.AddRw(std::move(config));
  }

  sim::Rig rig{*this};
  sim::RwDrive& drive;
  std::vector<uint8_t> image;
};

// Runs in its scope use the update definition of `entries` instead of the built-in one.
class Definition {
 public:
  explicit Definition(std::vector<sim::DefEntry> entries) { sim::UseDefinition(entries); }
  ~Definition() { sim::UseBuiltInDefinition(); }
  Definition(const Definition&) = delete;
  Definition& operator=(const Definition&) = delete;
};

// The built-in entry with another model code and upgrade type.
inline sim::DefEntry Entry(int32_t model, int32_t upgType = 1) {
  sim::DefEntry e;
  e.model = model;
  e.upgType = upgType;
  return e;
}

}  // namespace rwscen
