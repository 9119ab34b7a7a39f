// Whole runs over two or three recordable drives: the update-all question, the per-drive
// questions it spares, the summary, and a fatal result that ends the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/rw_scenario.h"

namespace rwscen {
namespace {

const char kSuccess[] = "\nSuccess to update the firmware.";
const char kCompleted[] = "\r\nUpdate operation is completed.";
const char kTerminated[] = "\r\nUpdate program is terminated by occuring an error.\r\n";
const char kUpToDate[] = "\r\nFW is already latest.";

constexpr UINT kQuestion = MB_YESNO | MB_ICONQUESTION;
constexpr UINT kInfoBox = MB_OK | MB_ICONINFORMATION;

std::string Found(int n) {
  return "\r\n" + std::to_string(n) +
         " target device(s) is found.\r\nDo you want to update all drives ?";
}
std::string Start(int n) {
  return "\r\nStart updating the device No." + std::to_string(n) + ".";
}
std::string Updated(int n) {
  return "\r\n" + std::to_string(n) + "drive(s) have been updated successfully.";
}

std::vector<std::string> Texts(const sim::Machine& m) {
  std::vector<std::string> out;
  for (const sim::Box& b : m.boxes)
    out.push_back(b.text);
  return out;
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++n;
  return n;
}

// Log indices of the commands sent to the drive in `slot`.
std::vector<size_t> CommandsTo(const sim::Machine& m, int slot) {
  std::vector<size_t> out;
  for (size_t i = 0; i < m.log.size(); ++i)
    if (m.log[i].slot == slot) out.push_back(i);
  return out;
}

TEST(RwMulti, UpdateAllAnsweredYesAsksNothingMore) {
  sim::Machine m;
  sim::Rig rig(m);
  sim::RwDrive& first = rig.AddRw();
  sim::RwDrive& second = rig.AddRw();
  rig.WriteRwImage();
  m.answers = {IDYES};

  EXPECT_EQ(test::RunMain(m), 0);
  EXPECT_EQ(Texts(m), (std::vector<std::string>{Found(2), kCompleted}));
  EXPECT_EQ(m.boxes[0].flags, kQuestion);
  EXPECT_EQ(m.boxes[1].flags, kInfoBox);
  EXPECT_TRUE(InOrder(m.console, {Start(1), kSuccess, Start(2), kSuccess, kCompleted}));
  EXPECT_EQ(NormalBlocks(m, 0), WholeBlocks(64));
  EXPECT_EQ(NormalBlocks(m, 1), WholeBlocks(64));
  EXPECT_EQ(first.Config().revision, "1.22");
  EXPECT_EQ(second.Config().revision, "1.22");

  // 2000 ms pass after each updated drive.
  const std::vector<size_t> toSecond = CommandsTo(m, 1);
  const size_t lastOfFirst = CommandsTo(m, 0).back();
  EXPECT_EQ(toSecond[2], lastOfFirst + 1);  // after its two enumeration commands
  EXPECT_EQ(GapAfter(m, lastOfFirst), 2u + 2000);
  EXPECT_EQ(m.now - m.log.back().time, 2u + 2000);
}

TEST(RwMulti, UpdateAllAnsweredNoConfirmsEachDrive) {
  sim::Machine m;
  sim::Rig rig(m);
  sim::RwDrive& first = rig.AddRw();
  sim::RwDrive& second = rig.AddRw();
  sim::RwDrive& third = rig.AddRw();
  rig.WriteRwImage();
  m.answers = {IDNO, IDYES, IDNO, IDYES};

  EXPECT_EQ(test::RunMain(m), 0);
  ASSERT_EQ(m.boxes.size(), 5u);
  EXPECT_EQ(m.boxes[0].text, Found(3));
  for (int i = 1; i <= 3; ++i) {
    EXPECT_TRUE(Has(m.boxes[i].text, "Do you want to update the F/W")) << i;
    EXPECT_EQ(m.boxes[i].flags, kQuestion);
  }
  EXPECT_EQ(m.boxes[4].text, Updated(2));
  EXPECT_EQ(m.boxes[4].flags, kInfoBox);
  EXPECT_TRUE(InOrder(m.console, {Start(1), kSuccess, Start(2), Start(3), kSuccess, Updated(2)}));
  EXPECT_EQ(Count(m.console, kSuccess), 2u);
  EXPECT_EQ(first.Config().revision, "1.22");
  EXPECT_EQ(second.Config().revision, "1.21");
  EXPECT_TRUE(NormalBlocks(m, 1).empty());
  EXPECT_EQ(third.Config().revision, "1.22");
}

TEST(RwMulti, NothingToUpdate) {
  const struct {
    int updateAll;
    std::vector<UINT> boxes;  // up-to-date notices have boxes only when each drive is confirmed
  } cases[] = {
      {IDYES, {kQuestion}},
      {IDNO, {kQuestion, kInfoBox, kInfoBox}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.updateAll);
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.revision = "1.22";
    config.date = "08/07/25";
    rig.AddRw(config);
    rig.AddRw(config);
    rig.WriteRwImage();
    m.answers = {c.updateAll};

    EXPECT_EQ(test::RunMain(m), 0);
    std::vector<UINT> flags;
    for (const sim::Box& b : m.boxes)
      flags.push_back(b.flags);
    EXPECT_EQ(flags, c.boxes);
    EXPECT_TRUE(InOrder(m.console, {Start(1), kUpToDate, Start(2), kUpToDate}));
    EXPECT_FALSE(Has(m.console, kCompleted));
    EXPECT_FALSE(Has(m.console, "have been updated"));
    EXPECT_TRUE(Writes(m).empty());
  }
}

TEST(RwMulti, FirstDriveSkippedSecondUpdated) {
  sim::Machine m;
  sim::Rig rig(m);
  sim::RwConfig loaded;
  loaded.disc = sim::Disc::Loaded;
  sim::RwDrive& first = rig.AddRw(loaded);
  sim::RwDrive& second = rig.AddRw();
  rig.WriteRwImage();
  m.answers = {IDYES};

  EXPECT_EQ(test::RunMain(m), 0);
  EXPECT_TRUE(InOrder(m.console, {Start(1), test::En(5), Start(2), kSuccess, Updated(1)}));
  EXPECT_EQ(m.boxes.back().text, Updated(1));
  EXPECT_EQ(first.Config().revision, "1.21");
  EXPECT_EQ(second.Config().revision, "1.22");
}

TEST(RwMulti, DriveThatCannotBeReadWhenItsTurnComesIsSkipped) {
  const struct {
    const char* name;
    bool windows98;
    int opcode;
    int msg;
  } cases[] = {
      {"INQUIRY, pass-through", false, 0x12, 9},
      {"INQUIRY, ASPI", true, 0x12, 9},
      {"drive information, pass-through", false, 0x3C, 0},
      {"drive information, ASPI", true, 0x3C, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    sim::Rig rig(m);
    if (c.windows98) rig.Windows98();
    sim::RwDrive& first = rig.AddRw();
    sim::RwDrive& second = rig.AddRw();
    rig.WriteRwImage();
    sim::Fault fault;
    fault.slot = 0;
    fault.cdb = {c.opcode};
    fault.nth = 2;  // the first command of its kind after enumeration
    fault.sense = sim::kBecomingReady;
    m.faults = {fault};
    m.answers = {IDYES};

    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_TRUE(InOrder(m.console, {Start(1), test::En(c.msg), Start(2), kSuccess, Updated(1)}));
    EXPECT_FALSE(Has(m.console, "Failed to load binary file"));
    ASSERT_EQ(m.boxes.size(), 3u);
    EXPECT_EQ(m.boxes[1].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(first.Config().revision, "1.21");
    EXPECT_EQ(second.Config().revision, "1.22");
  }
}

TEST(RwMulti, EachDriveIsSwitchedBackByItsOwnOemCode) {
  // The first drive's kernel model and hardware revision give OEM code 0x300: after its switch
  // back it is given 5000 ms and asked whether it is ready. The second, found in its kernel,
  // has another kernel model and is given the usual 3000 ms before its INQUIRY.
  sim::Machine m;
  sim::Rig rig(m);
  sim::RwConfig oem300;
  oem300.hwRevision = "SCSI0102";
  oem300.kernelModel = "GENERAL ";
  rig.AddRw(oem300);
  sim::RwConfig inKernel;
  inKernel.hwRevision = "SCSI0102";
  inKernel.startInKernel = true;
  sim::RwDrive& second = rig.AddRw(inKernel);
  sim::RwImageSpec spec;
  spec.hwRevision = "SCSI0102";
  rig.WriteRwImage(spec);
  m.answers = {IDYES};

  EXPECT_EQ(test::RunMain(m), 0);
  const std::vector<const sim::LogEntry*> back = ToNormal(m);
  ASSERT_EQ(back.size(), 2u);
  const size_t first = static_cast<size_t>(back[0] - m.log.data());
  const size_t last = static_cast<size_t>(back[1] - m.log.data());
  EXPECT_EQ(m.log[first + 1].cdb[0], 0x00);
  EXPECT_EQ(GapAfter(m, first), 8000u + 5000);
  EXPECT_EQ(m.log[last].slot, 1);
  EXPECT_EQ(m.log.at(last + 1).cdb[0], 0x12);
  EXPECT_EQ(GapAfter(m, last), 8000u + 3000);
  EXPECT_EQ(second.Config().revision, "1.22");
}

TEST(RwMulti, FatalResultOnTheFirstOfThreeLeavesTheOthersUntouched) {
  sim::Machine m;
  sim::Rig rig(m);
  sim::RwConfig refused;
  refused.rpcScheme = 0;
  rig.AddRw(refused);
  sim::RwDrive& second = rig.AddRw();
  sim::RwDrive& third = rig.AddRw();
  rig.WriteRwImage();
  m.answers = {IDYES};

  EXPECT_EQ(test::RunMain(m), 1);
  EXPECT_TRUE(InOrder(m.console, {Start(1), test::En(71), kTerminated}));
  EXPECT_FALSE(Has(m.console, Start(2)));
  EXPECT_FALSE(Has(m.console, kCompleted));
  EXPECT_FALSE(Has(m.console, "have been updated"));
  // Enumeration's INQUIRY and drive information were all the others were sent.
  const size_t enumerated = 3 * 2;
  for (int slot : {1, 2}) {
    const std::vector<size_t> sent = CommandsTo(m, slot);
    EXPECT_EQ(sent.size(), 2u) << slot;
    for (size_t i : sent)
      EXPECT_LT(i, enumerated) << slot;
  }
  EXPECT_EQ(second.Config().revision, "1.21");
  EXPECT_EQ(third.Config().revision, "1.21");
}

}  // namespace
}  // namespace rwscen
