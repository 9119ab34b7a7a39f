// Whole runs in which a rule decides the update of a recordable drive before anything is written
// (the image file, versions and dates, hardware and model names, the disc, the drive's region
// scheme and the user's answers), and runs over two or three drives: the update-all question, the
// per-drive questions it spares, the summary, drives skipped on their turn, and a fatal result
// that ends the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/image_tools.h"
#include "tests/rw_scenario.h"

namespace rwscen {
namespace {

TEST(RwRules, NormalImageThatCannotBeUsedEndsTheRun) {
  const struct {
    const char* name;
    int refusal;            // the message shown before message 11; 0: none
    sim::RwImageSpec want;  // size 0: no file
    size_t cut = 0;         // file cut to this size; 0: whole
    bool windows98 = false;
  } cases[] = {
      {"no file", 0, {.size = 0}},
      {"a day older than the entry accepts", 69, {.date = sim::LongDateText(0x20080724)}},
      {"a kernel image", 40, {.part = 'K'}},
      {"old and of the wrong part", 69, {.part = 'K', .date = sim::LongDateText(0x20080101)}},
      {"shorter than its header", 0, {}, 0x153},
      {"larger than the image buffer", 0, {.size = 0x800001}},
      {"larger than the Windows 98 image buffer", 0, {.size = 0x200001}, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    sim::Rig rig(m);
    if (c.windows98) rig.Windows98();
    sim::RwDrive& drive = rig.AddRw();
    if (c.want.size != 0) {
      std::vector<uint8_t> image = sim::BuildRwImage(c.want);
      image.resize(c.cut != 0 ? c.cut : image.size());
      m.WriteFile(kNormalFile, image);
    }

    EXPECT_EQ(test::RunMain(m), 1);
    EXPECT_TRUE(InOrder(
        m.console, {Start(1), c.refusal != 0 ? test::En(c.refusal) : "",
                    "\r\nFailed to load binary file.\r\n(File Name : A0414431.122)", kTerminated}));
    EXPECT_FALSE(Has(m.console, "Current Revision"));
    EXPECT_EQ(Boxes(m), c.refusal != 0 ? "SSW" : "SW");
    EXPECT_TRUE(m.Sent({0x3B}).empty());
    EXPECT_EQ(drive.Config().revision, "1.21");
  }
}

// What a case changes in a run over one drive with the built-in entry and image.
struct OneDrive {
  sim::DefEntry entry;
  sim::RwConfig drive;
  sim::RwImageSpec image;
  std::vector<int> answers;
  std::vector<sim::Fault> faults;

  // The drive runs firmware `revision` of `date`, reported in `form`.
  void Runs(const char* revision, const char* date, sim::DateForm form = sim::DateForm::Short) {
    drive.revision = revision;
    drive.date = date;
    drive.dateForm = form;
  }
};

constexpr sim::DateForm kFull = sim::DateForm::Full;

// A drive whose update a rule settles: updated (boxes "QI"), or left as it was with a message
// (0: none) and the boxes shown. The run goes on either way.
TEST(RwRules, EachRuleDecidesForOneDrive) {
  const struct {
    const char* name;
    int msg;
    const char* boxes;
    size_t turs;  // TEST UNIT READYs after the disc is stopped; 0: not counted
    void (*setup)(OneDrive&);
  } cases[] = {
      // clang-format off
      // The image must be newer in version or date; one drive's up-to-date notice has a box.
      {"same version and date",  54, "I",  0, [](auto& s) { s.Runs("1.22", "08/07/25"); }},
      {"same date, long form",   54, "I",  0, [](auto& s) { s.Runs("1.22", "2008/07/25", kFull); }},
      {"newer version and date", 54, "I",  0, [](auto& s) { s.Runs("1.23", "08/08/01"); }},
      {"a day older",             0, "QI", 0, [](auto& s) { s.Runs("1.22", "08/07/24"); }},
      {"later date, lower version", 0, "QI", 0, [](auto& s) { s.Runs("1.21", "08/08/01"); }},
      // Hardware revision, then kernel model, then normal model; GENERAL and COMPO pass.
      {"hardware revision",    1, "S",  0, [](auto& s) { s.drive.hwRevision = "HW  0103"; }},
      {"kernel model",        37, "S",  0, [](auto& s) { s.drive.kernelModel = "QUILL   "; }},
      {"normal model",         3, "S",  0, [](auto& s) { s.image.normalModel = "KES_ADX "; }},
      {"kernel model GENERAL", 0, "QI", 0, [](auto& s) { s.drive.kernelModel = "GENERAL "; }},
      {"kernel model COMPO",   0, "QI", 0, [](auto& s) { s.drive.kernelModel = "COMPO   "; }},
      {"normal model GENERAL", 0, "QI", 0, [](auto& s) {
         s.entry.oemStr = s.drive.normalModel = "GENERAL ";
         s.image.normalModel = "KES_ADX "; }},
      // The disc is stopped, then asked after until its state is known, at most ten times.
      {"disc loaded",          5, "I",  1, [](auto& s) { s.drive.disc = sim::Disc::Loaded; }},
      {"disc loaded in model 0x1041", 0, "QI", 1, [](auto& s) {
         s.drive.disc = sim::Disc::Loaded;
         s.drive.modelCode = s.entry.model = 0x1041; }},
      {"disc becoming ready",6, "", 1, [](auto& s) { s.drive.disc = sim::Disc::BecomingReady; }},
      {"9 unit attentions, then no disc", 0, "QI", 10, [](auto& s) { s.drive.unitAttentions = 9; }},
      {"endless unit attentions", 7, "", 10, [](auto& s) { s.drive.unitAttentions = 1 << 30; }},
      // A failed region query skips the drive; a scheme other than 1 is fatal (several drives).
      {"region query refused", 71, "S", 0, [](auto& s) {
         s.faults = {{.cdb = {0xA4}, .sense = sim::kInvalidOpcode}}; }},
      {"update question declined", 0, "Q", 0, [](auto& s) { s.answers = {IDNO}; }},
      {"one-way caution declined", 33, "QW", 0, [](auto& s) {
         s.entry.caution = 1;
         s.answers = {IDNO}; }},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OneDrive s;
    c.setup(s);
    Definition def({s.entry});
    Scene<> m(s.drive, nullptr, s.image);
    m.answers.assign(s.answers.begin(), s.answers.end());
    m.faults = s.faults;

    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_EQ(Boxes(m), c.boxes);
    EXPECT_TRUE(c.msg == 0 || Has(m.console, test::En(c.msg)));
    if (c.turs != 0) {
      EXPECT_EQ(Find(m, {0x00}), Find(m, {0x1B, 0x00, 0x00, 0x00, 0x00, 0x00}) + 1);
      EXPECT_EQ(m.Sent({0x00}).size(), c.turs);
    }
    if (std::string(c.boxes) == "QI") {
      EXPECT_TRUE(Has(m.console, kSuccess));
      EXPECT_EQ(m.drive.Config().revision, "1.22");
      continue;
    }
    EXPECT_TRUE(m.Sent({0x3B}).empty());
    EXPECT_EQ(m.drive.Config().revision, s.drive.revision);
    EXPECT_FALSE(Has(m.console, kCompleted));
    EXPECT_FALSE(Has(m.console, "have been updated"));
  }
}

TEST(RwRules, FamilyThatMayTakeANewHardwareRevisionWithItsKernel) {
  for (int32_t upgType : {1, 0}) {
    SCOPED_TRACE(upgType);
    Definition def({Entry(0x1041, upgType)});
    sim::RwConfig config;
    config.modelCode = 0x1041;
    Scene<> m(config, nullptr, {.hwRevision = "HW  0103"});
    sim::RwImageSpec kernel = KernelSpec();
    kernel.hwRevision = "HW  0103";
    m.rig.WriteRwImage(kernel, kKernelFile);

    EXPECT_EQ(test::RunMain(m), 0);
    // The normal part alone cannot change it: a notice without a box. With the kernel it can.
    EXPECT_EQ(Has(m.console, test::En(1)), upgType == 1);
    EXPECT_EQ(Boxes(m), upgType == 1 ? "" : "QI");
    EXPECT_EQ(Blocks(m, 0xFE), WholeBlocks(upgType == 1 ? 0 : 4));
    EXPECT_EQ(m.drive.Config().hwRevision, upgType == 1 ? "HW  0102" : "HW  0103");
    EXPECT_EQ(m.drive.Config().revision, upgType == 1 ? "1.21" : "1.22");
  }
}

// --- Several drives ------------------------------------------------------------------------

std::string Found(int n) {
  return "\r\n" + std::to_string(n) +
         " target device(s) is found.\r\nDo you want to update all drives ?";
}

// Log indices of the commands sent to the drive in `slot`.
std::vector<size_t> CommandsTo(const sim::Machine& m, int slot) {
  std::vector<size_t> out;
  for (size_t i = 0; i < m.log.size(); ++i)
    if (m.log[i].slot == slot) out.push_back(i);
  return out;
}

TEST(RwMulti, UpdateAllAnsweredYesAsksNothingMore) {
  Scene<> m;
  sim::RwDrive& second = m.rig.AddRw();
  m.answers = {IDYES};

  EXPECT_EQ(test::RunMain(m), 0);
  ASSERT_EQ(Boxes(m), "QI");
  EXPECT_EQ(m.boxes[0].text, Found(2));
  EXPECT_EQ(m.boxes[1].text, kCompleted);
  EXPECT_TRUE(InOrder(m.console, {Start(1), kSuccess, Start(2), kSuccess, kCompleted}));
  EXPECT_EQ(m.drive.Config().revision, "1.22");
  EXPECT_EQ(second.Config().revision, "1.22");
  // 2000 ms pass after each updated drive.
  const size_t lastOfFirst = CommandsTo(m, 0).back();
  EXPECT_EQ(CommandsTo(m, 1)[2], lastOfFirst + 1);  // after its two enumeration commands
  EXPECT_EQ(GapAfter(m, lastOfFirst), 2u + 2000);
  EXPECT_EQ(m.now - m.log.back().time, 2u + 2000);
}

TEST(RwMulti, UpdateAllAnsweredNoConfirmsEachDrive) {
  Scene<> m;
  sim::RwDrive& second = m.rig.AddRw();
  sim::RwDrive& third = m.rig.AddRw();
  m.answers = {IDNO, IDYES, IDNO, IDYES};

  EXPECT_EQ(test::RunMain(m), 0);
  ASSERT_EQ(Boxes(m), "QQQQI");
  EXPECT_EQ(m.boxes[0].text, Found(3));
  EXPECT_TRUE(Has(m.boxes[2].text, "Do you want to update the F/W"));
  EXPECT_EQ(m.boxes[4].text, Updated(2));
  EXPECT_TRUE(InOrder(m.console, {Start(1), kSuccess, Start(2), Start(3), kSuccess, Updated(2)}));
  EXPECT_EQ(m.drive.Config().revision, "1.22");
  EXPECT_EQ(second.Config().revision, "1.21");
  EXPECT_EQ(third.Config().revision, "1.22");
}

TEST(RwMulti, NothingToUpdate) {
  // Up-to-date notices have boxes only when each drive is confirmed; no summary either way.
  for (int updateAll : {IDYES, IDNO}) {
    SCOPED_TRACE(updateAll);
    sim::RwConfig config;
    config.revision = "1.22";
    config.date = "08/07/25";
    Scene<> m(config);
    m.rig.AddRw(config);
    m.answers = {updateAll};

    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_EQ(Boxes(m), updateAll == IDYES ? "Q" : "QII");
    EXPECT_TRUE(InOrder(m.console, {Start(1), test::En(54), Start(2), test::En(54)}));
    EXPECT_FALSE(Has(m.console, kCompleted));
    EXPECT_FALSE(Has(m.console, "have been updated"));
    EXPECT_TRUE(m.Sent({0x3B}).empty());
  }
}

TEST(RwMulti, DriveThatCannotBeReadWhenItsTurnComesIsSkipped) {
  // Pass-through reports such a failure otherwise than ASPI; on both the drive is skipped.
  const struct {
    const char* name;
    bool windows98;
    int opcode;
    int msg;
  } cases[] = {
      {"INQUIRY, pass-through", false, 0x12, 9},
      {"drive information, pass-through", false, 0x3C, 0},
      {"drive information, ASPI", true, 0x3C, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scene<> m({}, c.windows98 ? "ESDI_506" : nullptr);
    sim::RwDrive& second = m.rig.AddRw();
    // The first command of its kind after enumeration.
    m.faults = {{.slot = 0, .cdb = {c.opcode}, .nth = 2, .sense = sim::kBecomingReady}};
    m.answers = {IDYES};

    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_TRUE(InOrder(m.console, {Start(1), test::En(c.msg), Start(2), kSuccess, Updated(1)}));
    EXPECT_FALSE(Has(m.console, "Failed to load binary file"));
    EXPECT_EQ(Boxes(m), "QSI");
    EXPECT_EQ(m.boxes.back().text, Updated(1));
    EXPECT_EQ(m.drive.Config().revision, "1.21");
    EXPECT_EQ(second.Config().revision, "1.22");
  }
}

TEST(RwMulti, EachDriveIsSwitchedBackByItsOwnOemCode) {
  // The first drive's kernel model and hardware revision give OEM code 0x300: after its switch
  // back it is given 5000 ms and asked whether it is ready. The second, found in its kernel, is
  // neither switched nor asked for its region, and with its own kernel model is given the usual
  // 3000 ms before its INQUIRY.
  sim::RwConfig oem300, inKernel;
  oem300.hwRevision = inKernel.hwRevision = "SCSI0102";
  oem300.kernelModel = "GENERAL ";
  inKernel.startInKernel = true;
  Scene<> m(oem300, nullptr, {.hwRevision = "SCSI0102"});
  sim::RwDrive& second = m.rig.AddRw(inKernel);
  m.answers = {IDYES};

  EXPECT_EQ(test::RunMain(m), 0);
  EXPECT_TRUE(InOrder(m.console, {Start(2), kCurrentKernel, kSuccess, kCompleted}));
  for (int drive : {0, 1}) {
    SCOPED_TRACE(drive);
    const std::vector<size_t> sent = CommandsTo(m, drive);
    auto sentTo = [&](std::initializer_list<int> cdb) {
      std::vector<const sim::LogEntry*> all = m.Sent(cdb);
      return std::count_if(all.begin(), all.end(), [&](auto e) { return e->slot == drive; });
    };
    EXPECT_EQ(sentTo({0x3B, 0x04}), 1 - drive);
    EXPECT_EQ(sentTo({0xA4}), 1 - drive);
    const size_t back = Find(m, {0x3B, 0x05}, sent[2]);
    ASSERT_LT(back + 1, m.log.size());
    EXPECT_EQ(m.log[back + 1].cdb[0], drive == 0 ? 0x00 : 0x12);
    EXPECT_EQ(GapAfter(m, back), 8000u + (drive == 0 ? 5000 : 3000));
  }
  EXPECT_EQ(second.Config().revision, "1.22");
}

TEST(RwMulti, FatalResultOnTheFirstOfThreeLeavesTheOthersUntouched) {
  // A region scheme other than 1 ends the run.
  sim::RwConfig refused;
  refused.rpcScheme = 0;
  Scene<> m(refused);
  m.rig.AddRw();
  m.rig.AddRw();
  m.answers = {IDYES};

  EXPECT_EQ(test::RunMain(m), 1);
  EXPECT_TRUE(InOrder(m.console, {Start(1), test::En(71), kTerminated}));
  EXPECT_FALSE(Has(m.console, Start(2)));
  EXPECT_FALSE(Has(m.console, kCompleted));
  EXPECT_FALSE(Has(m.console, "have been updated"));
  EXPECT_EQ(Boxes(m), "QSW");
  // Enumeration's INQUIRY and drive information were all the others were sent.
  for (int slot : {1, 2}) {
    const std::vector<size_t> sent = CommandsTo(m, slot);
    EXPECT_EQ(sent.size(), 2u) << slot;
    EXPECT_LT(sent.back(), 3u * 2) << slot;
  }
}

}  // namespace
}  // namespace rwscen
