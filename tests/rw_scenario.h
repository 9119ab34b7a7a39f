// What the whole-run tests of recordable-drive updates share: reading the command log as the
// update's steps, the console's progress lines, and two ways for a test to act in the middle of a
// run (a user who does something before answering a box, a drive that acts on a command and then
// reports it failed).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
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

// The kernel part's image as the definition's drive takes it: four blocks, version 01.05.
inline sim::RwImageSpec KernelSpec() {
  sim::RwImageSpec spec;
  spec.size = 0x20000;
  spec.part = 'K';
  spec.kernelVersion = "0105";
  spec.seed = 7;
  return spec;
}

// WRITE BUFFER commands of an update, by their leading CDB bytes.
inline std::vector<const sim::LogEntry*> ToKernel(const sim::Machine& m) {
  return m.Sent({0x3B, 0x04, 0xFF});
}
inline std::vector<const sim::LogEntry*> ToNormal(const sim::Machine& m) {
  return m.Sent({0x3B, 0x05, 0xFF});
}
inline std::vector<const sim::LogEntry*> Writes(const sim::Machine& m) {
  return m.Sent({0x3B});
}

// One image block as the CDB of WRITE BUFFER mode 7 gives it.
struct Block {
  uint32_t offset = 0;
  uint32_t length = 0;
  bool operator==(const Block&) const = default;
};
// The blocks sent to buffer `bufferId` of the drive in `slot` (-1: any drive).
inline std::vector<Block> Blocks(const sim::Machine& m, uint8_t bufferId, int slot = -1) {
  std::vector<Block> out;
  for (const sim::LogEntry* e : m.Sent({0x3B, 0x07, bufferId}))
    if (slot == -1 || e->slot == slot)
      out.push_back({sim::Be24(e->cdb.data() + 3), sim::Be24(e->cdb.data() + 6)});
  return out;
}
inline std::vector<Block> NormalBlocks(const sim::Machine& m, int slot = -1) {
  return Blocks(m, 0xF0, slot);
}
inline std::vector<Block> KernelBlocks(const sim::Machine& m, int slot = -1) {
  return Blocks(m, 0xFE, slot);
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
inline size_t Find(const sim::Machine& m, std::initializer_list<int> cdb, size_t from = 0) {
  for (size_t i = from; i < m.log.size(); ++i) {
    const std::vector<uint8_t>& c = m.log[i].cdb;
    bool match = c.size() >= cdb.size();
    size_t k = 0;
    for (int b : cdb) {
      if (!match) break;
      match = b == -1 || c[k++] == b;
    }
    if (match) return i;
  }
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
                                          std::initializer_list<std::string> pieces) {
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

// Texts of the update as the console shows them.
inline constexpr char kReflashingLine[] =
    "\rProcessing 100% --> Data transfer complete\r\nNow internal re-flashing...";
inline constexpr char kCompleteLine[] = "\rProcessing 100% --> Complete";

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

// A recordable drive that carries out the commands whose CDB begins with `cdb` (none when it is
// empty) and then answers them with a check condition and `sense`, as a drive that resets while
// it restarts does.
class AnswersFailed : public sim::Drive {
 public:
  AnswersFailed(sim::RwConfig config, std::vector<int> cdb, sim::Sense sense)
      : drive(std::move(config)), cdb_(std::move(cdb)), sense_(sense) {}

  sim::Result Execute(const sim::Command& command) override {
    sim::Result result = drive.Execute(command);
    bool match =
        !cdb_.empty() && static_cast<int>(cdb_.size()) <= command.cdbLen && !result.noResponse;
    for (size_t i = 0; match && i < cdb_.size(); ++i)
      match = cdb_[i] == -1 || cdb_[i] == command.cdb[i];
    if (match) {
      result.status = sim::kCheckCondition;
      result.sense = sense_;
      pending_ = true;
    }
    return result;
  }
  void TakeSense(uint8_t* sense18) override {
    if (!pending_) return drive.TakeSense(sense18);
    sim::FillSense(sense18, sense_);
    pending_ = false;
  }

  sim::RwDrive drive;

 private:
  std::vector<int> cdb_;
  sim::Sense sense_;
  bool pending_ = false;
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

// Clears what a run left on the machine's console, boxes and log, for the next run on it.
inline void ClearRecords(sim::Machine& m) {
  m.console.clear();
  m.boxes.clear();
  m.log.clear();
}

}  // namespace rwscen
