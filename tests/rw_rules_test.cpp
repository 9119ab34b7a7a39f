// Whole runs in which a rule stops the update of a recordable drive before anything is written:
// the image file, versions and dates, hardware and model names, the disc, the drive's region
// scheme and the user's answers.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sim/image_tools.h"
#include "tests/rw_scenario.h"

namespace rwscen {
namespace {

const char kLoadFailed[] = "\r\nFailed to load binary file.\r\n(File Name : A0414431.122)";
const char kTerminated[] = "\r\nUpdate program is terminated by occuring an error.\r\n";
const char kSuccess[] = "\nSuccess to update the firmware.";

constexpr UINT kQuestion = MB_YESNO | MB_ICONQUESTION;
constexpr UINT kStopBox = MB_OK | MB_ICONSTOP;
constexpr UINT kWarnBox = MB_OK | MB_ICONEXCLAMATION;
constexpr UINT kInfoBox = MB_OK | MB_ICONINFORMATION;

std::vector<UINT> Flags(const sim::Machine& m) {
  std::vector<UINT> out;
  for (const sim::Box& b : m.boxes)
    out.push_back(b.flags);
  return out;
}

// Succeeds when `ids` were shown on the console in this order.
::testing::AssertionResult Shown(const sim::Machine& m, const std::vector<int>& ids) {
  size_t at = 0;
  for (int id : ids) {
    size_t found = m.console.find(test::En(id), at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "message " << id << " missing in:\n" << m.console;
    at = found + 1;
  }
  return ::testing::AssertionSuccess();
}

// The drive was left as it was: nothing written, its firmware unchanged.
void ExpectUntouched(const sim::Machine& m, const sim::RwDrive& drive) {
  EXPECT_TRUE(Writes(m).empty());
  EXPECT_EQ(drive.Config().revision, "1.21");
  EXPECT_FALSE(drive.InKernel());
}

// A run that skipped its one drive: no summary, exit code 0.
void ExpectSkipped(const sim::Machine& m) {
  EXPECT_FALSE(Has(m.console, kSuccess));
  EXPECT_FALSE(Has(m.console, "\r\nUpdate operation is completed."));
  EXPECT_FALSE(Has(m.console, "have been updated successfully"));
}

TEST(RwRules, NormalImageThatCannotBeUsedEndsTheRun) {
  const struct {
    const char* name;
    bool windows98;
    std::optional<sim::RwImageSpec> spec;  // none: no file
    size_t cut;                            // file cut to this size; 0: whole
    std::vector<int> refusals;             // shown before message 11
  } cases[] = {
      {"no file", false, std::nullopt, 0, {}},
      {"a day older than the entry accepts",
       false,
       sim::RwImageSpec{.date = sim::LongDateText(0x20080724)},
       0,
       {69}},
      {"no digit where the day is", false, sim::RwImageSpec{.date = "Jul?? 2008 "}, 0, {69}},
      {"a kernel image", false, sim::RwImageSpec{.part = 'K'}, 0, {40}},
      {"another kernel model", false, sim::RwImageSpec{.kernelModel = "KES_ADW "}, 0, {40}},
      {"old and of the wrong part",
       false,
       sim::RwImageSpec{.part = 'K', .date = sim::LongDateText(0x20080101)},
       0,
       {69}},
      {"shorter than its header", false, sim::RwImageSpec{}, 0x153, {}},
      {"larger than the image buffer", false, sim::RwImageSpec{.size = 0x800001}, 0, {}},
      {"larger than the Windows 98 image buffer", true, sim::RwImageSpec{.size = 0x200001}, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    sim::Rig rig(m);
    if (c.windows98) rig.Windows98();
    sim::RwDrive& drive = rig.AddRw();
    if (c.spec) {
      std::vector<uint8_t> image = sim::BuildRwImage(*c.spec);
      if (c.cut != 0) image.resize(c.cut);
      m.WriteFile(kNormalFile, image);
    }

    EXPECT_EQ(test::RunMain(m), 1);
    EXPECT_TRUE(Shown(m, c.refusals));
    EXPECT_TRUE(
        InOrder(m.console, {"\r\nStart updating the device No.1.", kLoadFailed, kTerminated}));
    EXPECT_FALSE(Has(m.console, "Current Revision"));
    std::vector<UINT> boxes(c.refusals.size(), kStopBox);
    boxes.insert(boxes.end(), {kStopBox, kWarnBox});
    EXPECT_EQ(Flags(m), boxes);
    ExpectUntouched(m, drive);
  }
}

TEST(RwRules, ImageMustBeNewerInVersionOrDate) {
  const struct {
    const char* revision;
    const char* date;
    sim::DateForm form;
    bool newer;
  } cases[] = {
      {"1.22", "08/07/25", sim::DateForm::Short, false},
      {"1.22", "2008/07/25", sim::DateForm::Full, false},
      {"1.23", "08/08/01", sim::DateForm::Short, false},
      {"1.21", "08/07/25", sim::DateForm::Short, true},
      {"1.22", "08/07/24", sim::DateForm::Short, true},
      {"1.22", "2008/07/24", sim::DateForm::Full, true},
      {"1.21", "08/08/01", sim::DateForm::Short, true},  // a later date but a lower version
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.revision) + " " + c.date);
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.revision = c.revision;
    config.date = c.date;
    config.dateForm = c.form;
    sim::RwDrive& drive = rig.AddRw(config);
    rig.WriteRwImage();

    EXPECT_EQ(test::RunMain(m), 0);
    if (c.newer) {
      EXPECT_TRUE(Has(m.console, kSuccess));
      EXPECT_EQ(drive.Config().revision, "1.22");
      continue;
    }
    EXPECT_TRUE(Shown(m, {54}));
    EXPECT_EQ(Flags(m), (std::vector<UINT>{kInfoBox}));  // one drive: the notice has a box
    EXPECT_TRUE(Writes(m).empty());
    EXPECT_EQ(drive.Config().revision, c.revision);
    ExpectSkipped(m);
  }
}

TEST(RwRules, HardwareRevisionAndModelNames) {
  const struct {
    const char* name;
    const char* driveHw;
    const char* driveKernel;
    const char* driveNormal;
    const char* imageNormal;
    int msg;  // 0: updated
  } cases[] = {
      {"hardware revision", "HW  0103", "KES_ADV ", "KES_ADV ", "KES_ADV ", 1},
      {"hardware revision and kernel model", "HW  0103", "QUILL   ", "KES_ADV ", "KES_ADV ", 1},
      {"kernel model", "HW  0102", "QUILL   ", "KES_ADV ", "KES_ADV ", 37},
      {"normal model", "HW  0102", "KES_ADV ", "KES_ADV ", "KES_ADX ", 3},
      {"kernel model GENERAL", "HW  0102", "GENERAL ", "KES_ADV ", "KES_ADV ", 0},
      {"kernel model COMPO", "HW  0102", "COMPO   ", "KES_ADV ", "KES_ADV ", 0},
      {"normal model GENERAL", "HW  0102", "KES_ADV ", "GENERAL ", "KES_ADX ", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DefEntry entry;
    entry.oemStr = c.driveNormal;  // the mark the definition finds its drives by
    Definition def({entry});
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.hwRevision = c.driveHw;
    config.kernelModel = c.driveKernel;
    config.normalModel = c.driveNormal;
    sim::RwDrive& drive = rig.AddRw(config);
    sim::RwImageSpec spec;
    spec.normalModel = c.imageNormal;
    rig.WriteRwImage(spec);

    EXPECT_EQ(test::RunMain(m), 0);
    if (c.msg == 0) {
      EXPECT_TRUE(Has(m.console, kSuccess));
      EXPECT_EQ(drive.Config().revision, "1.22");
      continue;
    }
    EXPECT_TRUE(Shown(m, {c.msg}));
    EXPECT_EQ(Flags(m), (std::vector<UINT>{kStopBox}));
    EXPECT_TRUE(m.Sent({0xA4}).empty());
    ExpectUntouched(m, drive);
    ExpectSkipped(m);
  }
}

TEST(RwRules, FamilyThatMayTakeANewHardwareRevisionWithItsKernel) {
  for (int32_t upgType : {1, 0}) {
    SCOPED_TRACE(upgType);
    Definition def({Entry(0x1041, upgType)});
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.modelCode = 0x1041;
    sim::RwDrive& drive = rig.AddRw(config);
    sim::RwImageSpec normal;
    normal.hwRevision = "HW  0103";
    rig.WriteRwImage(normal);
    sim::RwImageSpec kernel = KernelSpec();
    kernel.hwRevision = "HW  0103";
    rig.WriteRwImage(kernel, kKernelFile);

    EXPECT_EQ(test::RunMain(m), 0);
    if (upgType == 1) {  // the normal part alone cannot change it: a notice, without a box
      EXPECT_TRUE(Shown(m, {1}));
      EXPECT_EQ(Flags(m), (std::vector<UINT>{}));
      ExpectUntouched(m, drive);
      ExpectSkipped(m);
    } else {
      EXPECT_FALSE(Shown(m, {1}));
      EXPECT_EQ(KernelBlocks(m), WholeBlocks(4));
      EXPECT_EQ(drive.Config().hwRevision, "HW  0103");
      EXPECT_EQ(drive.Config().revision, "1.22");
    }
  }
}

TEST(RwRules, DiscInTheDrive) {
  const struct {
    const char* name;
    int32_t model;
    sim::Disc disc;
    int unitAttentions;
    int msg;  // 0: updated
    UINT box;
    size_t turs;
  } cases[] = {
      {"disc loaded", 0x100D, sim::Disc::Loaded, 0, 5, kInfoBox, 1},
      {"disc loaded in model 0x1041", 0x1041, sim::Disc::Loaded, 0, 0, 0, 1},
      {"disc becoming ready", 0x100D, sim::Disc::BecomingReady, 0, 6, 0, 1},
      {"three unit attentions, then no disc", 0x100D, sim::Disc::None, 3, 0, 0, 4},
      {"nine unit attentions, then no disc", 0x100D, sim::Disc::None, 9, 0, 0, 10},
      {"ten unit attentions", 0x100D, sim::Disc::None, 10, 7, 0, 10},
      {"unit attentions without end", 0x100D, sim::Disc::None, 1 << 30, 7, 0, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Definition def({Entry(c.model)});
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.modelCode = static_cast<uint32_t>(c.model);
    config.disc = c.disc;
    config.unitAttentions = c.unitAttentions;
    sim::RwDrive& drive = rig.AddRw(config);
    rig.WriteRwImage();

    EXPECT_EQ(test::RunMain(m), 0);
    // The disc is stopped first, then asked after until its state is known.
    const size_t stop = Find(m, {0x1B, 0x00, 0x00, 0x00, 0x00, 0x00});
    ASSERT_LT(stop, m.log.size());
    EXPECT_EQ(Find(m, {0x00}), stop + 1);
    EXPECT_EQ(m.Sent({0x00}).size(), c.turs);
    if (c.msg == 0) {
      EXPECT_TRUE(Has(m.console, kSuccess));
      EXPECT_EQ(drive.Config().revision, "1.22");
      continue;
    }
    EXPECT_TRUE(Shown(m, {c.msg}));
    EXPECT_EQ(Flags(m), c.box == 0 ? std::vector<UINT>{} : std::vector<UINT>{c.box});
    EXPECT_TRUE(m.Sent({0xA4}).empty());
    ExpectUntouched(m, drive);
    ExpectSkipped(m);
  }
}

TEST(RwRules, RegionSchemeOtherThanOne) {
  const struct {
    const char* name;
    uint8_t scheme;
    bool queryFails;
    int code;
  } cases[] = {
      {"scheme 0", 0, false, 1},
      {"scheme 2", 2, false, 1},
      {"query refused", 1, true, 0},  // the drive is skipped, the run goes on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.rpcScheme = c.scheme;
    sim::RwDrive& drive = rig.AddRw(config);
    rig.WriteRwImage();
    if (c.queryFails) {
      sim::Fault fault;
      fault.cdb = {0xA4};
      fault.sense = sim::kInvalidOpcode;
      m.faults = {fault};
    }

    EXPECT_EQ(test::RunMain(m), c.code);
    EXPECT_TRUE(Shown(m, {71}));
    if (c.code == 1) {
      EXPECT_TRUE(InOrder(m.console, {test::En(71), kTerminated}));
      EXPECT_EQ(Flags(m), (std::vector<UINT>{kStopBox, kWarnBox}));
    } else {
      EXPECT_FALSE(Has(m.console, kTerminated));
      EXPECT_EQ(Flags(m), (std::vector<UINT>{kStopBox}));
      ExpectSkipped(m);
    }
    ExpectUntouched(m, drive);
  }
}

TEST(RwRules, UserDeclines) {
  const struct {
    const char* name;
    int32_t caution;
    std::vector<int> answers;
    std::vector<UINT> boxes;
    int msg;
  } cases[] = {
      {"the update question", 0, {IDNO}, {kQuestion}, 0},
      {"the one-way caution", 1, {IDNO}, {kQuestion, kWarnBox}, 33},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DefEntry entry;
    entry.caution = c.caution;
    Definition def({entry});
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwDrive& drive = rig.AddRw();
    rig.WriteRwImage();
    m.answers.assign(c.answers.begin(), c.answers.end());

    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_EQ(Flags(m), c.boxes);
    if (c.msg != 0) {
      EXPECT_TRUE(Shown(m, {c.msg}));
      EXPECT_TRUE(Has(m.boxes[0].text, "to ver1.22, \r\nyou can not change"));
    } else {
      EXPECT_TRUE(Has(m.boxes[0].text, "Do you want to update the F/W"));
    }
    EXPECT_FALSE(Has(m.console, test::En(61)));
    ExpectUntouched(m, drive);
    ExpectSkipped(m);
  }
}

}  // namespace
}  // namespace rwscen
