// Whole runs of the program updating one recordable drive: the road from the first INQUIRY to the
// new revision, the kernel part, a drive found in its kernel, failures once the drive is in its
// kernel, a switch back that does not take, the Japanese console and the Windows 98 paths.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/image_tools.h"
#include "tests/rw_scenario.h"

namespace rwscen {
namespace {

const char kBanner[] = "\n/// ODD Firmware Update Utility Ver2.57C\n";
const char kCurrent121[] = "\nCurrent Revision>> KESTREL DVD-RW  QXR-515L 1.21  08/07/10";
const char kCurrentKernel[] = "\nCurrent Revision>> KESTREL DVD-RW  QXR-515L 0000  08/05/20";
const char kNew122[] = "\nNew Revision    >> KESTREL DVD-RW  QXR-515L 1.22  08/07/25";
const char kSuccess[] = "\nSuccess to update the firmware.";
const char kCompleted[] = "\r\nUpdate operation is completed.";
const char kTerminated[] = "\r\nUpdate program is terminated by occuring an error.\r\n";

constexpr UINT kQuestion = MB_YESNO | MB_ICONQUESTION;
constexpr UINT kStopBox = MB_OK | MB_ICONSTOP;
constexpr UINT kWarnBox = MB_OK | MB_ICONEXCLAMATION;
constexpr UINT kInfoBox = MB_OK | MB_ICONINFORMATION;

// Default latencies of the virtual drive (ms): kernel switch, one block, switch back with re-flash.
constexpr uint32_t kToKernelMs = 400;
constexpr uint32_t kBlockMs = 120;
constexpr uint32_t kSwitchBackMs = 2000 + 6000;

std::vector<UINT> Flags(const sim::Machine& m) {
  std::vector<UINT> out;
  for (const sim::Box& b : m.boxes)
    out.push_back(b.flags);
  return out;
}

bool Rising(const std::vector<int>& v) {
  return std::adjacent_find(v.begin(), v.end(), [](int a, int b) { return a >= b; }) == v.end();
}

TEST(RwUpdate, OneDriveFromItsNormalFirmwareToTheNewRevision) {
  sim::Machine m;
  sim::Rig rig(m);
  sim::RwDrive& drive = rig.AddRw();
  std::vector<uint8_t> image = rig.WriteRwImage();

  EXPECT_EQ(test::RunMain(m), 0);

  EXPECT_TRUE(InOrder(m.console, {kBanner, "\r\nStart updating the device No.1.", kCurrent121,
                                  test::En(61), "\n\rProcessing 0%\rProcessing 1%\rProcessing 3%",
                                  "\rProcessing 98%" + std::string(kReflashingLine), kNew122,
                                  kSuccess, kCompleted}));
  std::vector<int> percents = Percents(m.console);
  EXPECT_EQ(percents.size(), 64u + 1);  // one line before each block, then the completion line
  EXPECT_TRUE(Rising(percents));

  ASSERT_EQ(Flags(m), (std::vector<UINT>{kQuestion, kInfoBox}));
  EXPECT_TRUE(InOrder(m.boxes[0].text, {"\r\nDo you want to update the F/W\r\n"
                                        "From : KESTREL DVD-RW  QXR-515L 1.21  (2008/07/10)\r\n"
                                        "To : KESTREL DVD-RW  QXR-515L 1.22 "}));
  EXPECT_EQ(m.boxes[0].caption, "REFLSH");
  EXPECT_EQ(m.boxes[1].text, kCompleted);

  // Kernel switch, the image in 64 blocks with nothing between them, the switch back, and the
  // INQUIRY that reads the new revision.
  const size_t toKernel = Find(m, {0x3B, 0x04, 0xFF});
  const size_t first = Find(m, {0x3B, 0x07, 0xF0});
  ASSERT_LT(toKernel, first);
  EXPECT_EQ(NormalBlocks(m), WholeBlocks(64));
  EXPECT_TRUE(KernelBlocks(m).empty());
  for (const sim::LogEntry* e : m.Sent({0x3B, 0x07}))
    EXPECT_EQ(e->timeoutMs, 20000u);
  const size_t back = Find(m, {0x3B, 0x05, 0xFF});
  ASSERT_EQ(back, first + 64);
  EXPECT_EQ(m.log[back].timeoutMs, 180000u);
  ASSERT_EQ(m.log.size(), back + 2);
  EXPECT_EQ(m.log[back + 1].cdb[0], 0x12);
  EXPECT_EQ(ToKernel(m).size(), 1u);
  EXPECT_EQ(m.Sent({0xA4}).size(), 1u);

  // The drive settles 2000 + 1000 ms after entering its kernel, and 3000 ms after its restart.
  EXPECT_EQ(GapAfter(m, toKernel), kToKernelMs + 2000 + 1000);
  EXPECT_EQ(GapAfter(m, back), kSwitchBackMs + 3000);

  EXPECT_EQ(drive.Config().revision, "1.22");
  EXPECT_EQ(drive.Config().date, "08/07/25");
  EXPECT_FALSE(drive.InKernel());
  EXPECT_EQ(drive.Reflashes(), 1);
  EXPECT_EQ(drive.ReceivedNormal(), image);
}

TEST(RwUpdate, TheLastBlockCarriesWhatRemainsOfTheImage) {
  const struct {
    uint32_t size;
    size_t blocks;
    Block last;
    int lastPercent;
  } cases[] = {
      {0x200100, 65, {0x200000, 0x100}, 99},
      {0x8000, 1, {0, 0x8000}, 0},
      {0x4000, 1, {0, 0x4000}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.normalPartSize = c.size;
    sim::RwDrive& drive = rig.AddRw(config);
    sim::RwImageSpec spec;
    spec.size = c.size;
    std::vector<uint8_t> image = rig.WriteRwImage(spec);

    EXPECT_EQ(test::RunMain(m), 0);
    std::vector<Block> blocks = NormalBlocks(m);
    ASSERT_EQ(blocks.size(), c.blocks);
    EXPECT_EQ(blocks.back(), c.last);
    blocks.pop_back();
    EXPECT_EQ(blocks, WholeBlocks(static_cast<uint32_t>(c.blocks - 1)));
    std::vector<int> percents = Percents(m.console);
    ASSERT_EQ(percents.size(), c.blocks + 1);
    EXPECT_EQ(percents[c.blocks - 1], c.lastPercent);
    EXPECT_EQ(drive.ReceivedNormal(), image);
    EXPECT_EQ(drive.Config().revision, "1.22");
  }
}

TEST(RwUpdate, KernelPartGoesFirstWhenTheEntryAsksForIt) {
  Definition def({Entry(0x100D, 0)});
  sim::Machine m;
  sim::Rig rig(m);
  sim::RwDrive& drive = rig.AddRw();
  std::vector<uint8_t> normal = rig.WriteRwImage();
  std::vector<uint8_t> kernel = rig.WriteRwImage(KernelSpec(), kKernelFile);

  EXPECT_EQ(test::RunMain(m), 0);
  EXPECT_TRUE(InOrder(m.console, {kCurrent121, kReflashingLine, kNew122, kSuccess}));

  // The kernel's own INQUIRY (is it the image's kernel already?), four kernel blocks, 2000 ms,
  // then the normal part, loaded again since the kernel image took its place.
  const size_t firstKernel = Find(m, {0x3B, 0x07, 0xFE});
  ASSERT_LT(Find(m, {0x3B, 0x04}), firstKernel);
  EXPECT_EQ(m.log[firstKernel - 1].cdb[0], 0x12);
  EXPECT_EQ(KernelBlocks(m), WholeBlocks(4));
  const size_t firstNormal = Find(m, {0x3B, 0x07, 0xF0});
  ASSERT_EQ(firstNormal, firstKernel + 4);
  EXPECT_EQ(GapAfter(m, firstNormal - 1), kBlockMs + 2000);
  EXPECT_EQ(NormalBlocks(m), WholeBlocks(64));
  EXPECT_EQ(drive.ReceivedKernel(), kernel);
  EXPECT_EQ(drive.ReceivedNormal(), normal);

  EXPECT_EQ(drive.Config().kernelVersion, "0105");
  EXPECT_EQ(drive.Config().kernelDate, "Jul25 2008");
  EXPECT_EQ(drive.Config().revision, "1.22");
  EXPECT_FALSE(drive.InKernel());
}

TEST(RwUpdate, KernelPartThatCannotBeWrittenEndsTheRunBeforeAnyBlock) {
  const struct {
    const char* name;
    bool file;
    char part;
    const char* version;
    size_t size;
    std::vector<int> msgs;
    std::vector<UINT> boxes;  // after the update question
  } cases[] = {
      // clang-format off
      {"the drive runs it already", true,  'K', "0000", 0x20000, {10},     {kWarnBox}},
      {"no kernel file",            false, 'K', "0105", 0x20000, {72},     {kWarnBox}},
      {"a normal image as kernel",  true,  'N', "0105", 0x20000, {39, 72}, {kStopBox, kWarnBox}},
      // Its last block would carry whatever the image buffer held after the file.
      {"short of the kernel part",  true,  'K', "0105", 0x18000, {72},     {kWarnBox}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Definition def({Entry(0x100D, 0)});
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.kernelDate = sim::LongDateText(0x20080725);
    sim::RwDrive& drive = rig.AddRw(config);
    rig.WriteRwImage();
    sim::RwImageSpec kernel = KernelSpec();
    kernel.part = c.part;
    kernel.kernelVersion = c.version;
    kernel.size = c.size;
    if (c.file) rig.WriteRwImage(kernel, kKernelFile);

    EXPECT_EQ(test::RunMain(m), 1);
    std::vector<std::string> texts;
    for (int id : c.msgs)
      texts.push_back(test::En(id));
    texts.push_back(kTerminated);
    size_t at = 0;
    for (const std::string& t : texts) {
      at = m.console.find(t, at);
      ASSERT_NE(at, std::string::npos) << t;
    }
    std::vector<UINT> boxes = {kQuestion};
    boxes.insert(boxes.end(), c.boxes.begin(), c.boxes.end());
    EXPECT_EQ(Flags(m), boxes);
    EXPECT_EQ(Writes(m).size(), 1u);  // the kernel switch and nothing after it
    EXPECT_TRUE(drive.InKernel());
    drive.PowerCycle();
    EXPECT_EQ(drive.Config().revision, "1.21");  // the old firmware is intact
  }
}

TEST(RwUpdate, DriveFoundInItsKernelIsNeitherSwitchedNorAskedForItsRegion) {
  sim::Machine m;
  sim::Rig rig(m);
  sim::RwConfig config;
  config.startInKernel = true;
  sim::RwDrive& drive = rig.AddRw(config);
  rig.WriteRwImage();

  EXPECT_EQ(test::RunMain(m), 0);
  EXPECT_TRUE(InOrder(m.console, {kCurrentKernel, kReflashingLine, kNew122, kSuccess}));
  EXPECT_TRUE(Has(m.boxes.at(0).text, "From : KESTREL DVD-RW  QXR-515L 0000  (2008/05/20)"));
  EXPECT_TRUE(ToKernel(m).empty());
  EXPECT_TRUE(m.Sent({0xA4}).empty());
  EXPECT_EQ(NormalBlocks(m), WholeBlocks(64));
  EXPECT_EQ(drive.Config().revision, "1.22");
  EXPECT_FALSE(drive.InKernel());
}

TEST(RwUpdate, DriveSoldUnderAnotherName) {
  const struct {
    const char* name;
    const char* revision;
    const char* date;  // the month form these drives report
    bool inKernel;
    const char* current;
    bool updated;
  } cases[] = {
      {"older firmware", "1.21", "Jul102008", false,
       "\nCurrent Revision>> Lumarca DVD-RW  LMR-515L 1.21  Jul102008 ", true},
      {"firmware a day older", "1.22", "Jul242008", false, "1.22  Jul242008 ", true},
      {"the image's firmware", "1.22", "Jul252008", false, "1.22  Jul252008 ", false},
      // Its kernel reports the maker's identity, which every entry accepts by kernel model.
      {"in its kernel", "1.21", "Jul102008", true,
       "\nCurrent Revision>> KESTREL DVD-RW  QXR-515  0000  08/05/20", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::DefEntry entry;
    entry.vendor = "Lumarca ";
    entry.product = "DVD-RW  LMR-515L";
    Definition def({entry});
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.vendor = entry.vendor;
    config.product = entry.product;
    config.revision = c.revision;
    config.date = c.date;
    config.dateForm = sim::DateForm::Month;
    config.kernelIdentity = "KESTREL DVD-RW  QXR-515 ";
    config.startInKernel = c.inKernel;
    sim::RwDrive& drive = rig.AddRw(config);
    sim::RwImageSpec spec;
    spec.vendor = entry.vendor;
    spec.product = entry.product;
    spec.date = "08/07/25";  // these images carry the short form
    rig.WriteRwImage(spec);

    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_TRUE(Has(m.console, c.current));
    if (!c.updated) {
      EXPECT_TRUE(Has(m.console, test::En(54)));
      EXPECT_TRUE(Writes(m).empty());
      continue;
    }
    EXPECT_TRUE(Has(m.boxes.at(0).text, "To : Lumarca DVD-RW  LMR-515L 1.22  (2008/07/25)"));
    EXPECT_TRUE(InOrder(
        m.console, {kReflashingLine, "\nNew Revision    >> Lumarca DVD-RW  LMR-515L 1.22  Jul2",
                    kSuccess, kCompleted}));
    EXPECT_EQ(ToKernel(m).size(), c.inKernel ? 0u : 1u);
    EXPECT_EQ(drive.Config().revision, "1.22");
    EXPECT_EQ(drive.Config().date, "Jul252008");
    EXPECT_FALSE(drive.InKernel());
  }
}

TEST(RwUpdate, PowerLostMidTransferThenTheNextRunCompletesTheUpdate) {
  // Through pass-through and ASPI the lost block times out; through IEEE 1394 its polling does.
  for (const char* adapter : {"", "ESDI_506", "NTMAPHLP"}) {
    SCOPED_TRACE(adapter);
    sim::Machine m;
    sim::Rig rig(m);
    if (*adapter != '\0') rig.Windows98(adapter);
    sim::RwConfig config;
    config.powerLossAfterBlocks = 20;
    sim::RwDrive& drive = rig.AddRw(config);
    std::vector<uint8_t> image = rig.WriteRwImage();

    EXPECT_EQ(test::RunMain(m), 1);
    EXPECT_TRUE(InOrder(m.console, {"\rProcessing 31%", test::En(42), kTerminated}));
    EXPECT_EQ(NormalBlocks(m), WholeBlocks(21));  // the 21st is never answered
    EXPECT_TRUE(ToNormal(m).empty());
    ASSERT_FALSE(drive.Powered());

    // Power comes back: the old firmware is erased and the new one incomplete, so the drive
    // stays in its kernel, where the next run finds it by its kernel model name.
    drive.PowerCycle();
    ASSERT_TRUE(drive.InKernel());
    ClearRecords(m);
    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_TRUE(InOrder(m.console, {"\r\nStart updating the device No.1.", kCurrentKernel,
                                    kReflashingLine, kNew122, kSuccess, kCompleted}));
    EXPECT_TRUE(ToKernel(m).empty());
    EXPECT_TRUE(m.Sent({0xA4}).empty());
    EXPECT_EQ(NormalBlocks(m), WholeBlocks(64));
    EXPECT_EQ(drive.ReceivedNormal(), image);
    EXPECT_EQ(drive.Config().revision, "1.22");
    EXPECT_FALSE(drive.InKernel());
    EXPECT_EQ(m.aspiOverlaps, 0);
    EXPECT_EQ(m.aspiFreedPending, 0);
  }
}

TEST(RwUpdate, FailuresFromTheKernelSwitchOnAreFatal) {
  const struct {
    const char* name;
    int32_t upgType;
    std::vector<int> cdb;
    int nth;
    int msg;
    std::vector<UINT> boxes;  // after the update question
    size_t kernelBlocks, normalBlocks;
    bool inKernel;
  } cases[] = {
      // clang-format off
      {"kernel switch",       1, {0x3B, 0x04},       1, 14, {kWarnBox},           0, 0, false},
      {"fifth normal block",  1, {0x3B, 0x07, 0xF0}, 5, 42, {kStopBox, kWarnBox}, 0, 5, true},
      {"second kernel block", 0, {0x3B, 0x07, 0xFE}, 2, 41, {kStopBox, kWarnBox}, 2, 0, true},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Definition def({Entry(0x100D, c.upgType)});
    sim::Machine m;
    sim::Rig rig(m);
    sim::RwDrive& drive = rig.AddRw();
    rig.WriteRwImage();
    rig.WriteRwImage(KernelSpec(), kKernelFile);
    sim::Fault fault;
    fault.cdb = c.cdb;
    fault.nth = c.nth;
    fault.sense = {3, 0x0C, 0x00};  // write error
    m.faults = {fault};

    EXPECT_EQ(test::RunMain(m), 1);
    EXPECT_TRUE(InOrder(m.console, {test::En(61), test::En(c.msg), kTerminated}));
    EXPECT_FALSE(Has(m.console, kCompleted));
    std::vector<UINT> boxes = {kQuestion};
    boxes.insert(boxes.end(), c.boxes.begin(), c.boxes.end());
    EXPECT_EQ(Flags(m), boxes);
    EXPECT_EQ(KernelBlocks(m).size(), c.kernelBlocks);
    EXPECT_EQ(NormalBlocks(m).size(), c.normalBlocks);
    EXPECT_TRUE(ToNormal(m).empty());
    EXPECT_EQ(drive.InKernel(), c.inKernel);
    EXPECT_EQ(drive.Config().revision, "1.21");
  }
}

TEST(RwUpdate, SwitchBackReportedFailedIsJudgedByTheNewRevision) {
  const sim::Sense kReset{6, 0x29, 0x00}, kNotReady{2, 0x04, 0x01}, kHardware{4, 0x44, 0x00};
  const struct {
    const char* name;
    bool ieee1394;       // the drive is reached through IEEE 1394
    bool oem300;         // kernel model "GENERAL " on a SCSI hardware revision
    bool slowReflash;    // the re-flash outlasts the 180 s the switch back may take
    sim::Sense sense;    // of the failure the drive reports after switching
    bool msg15;          // the failure is reported
    uint32_t wait;       // from the end of the switch back to the next command
    uint8_t nextOpcode;  // that command
  } cases[] = {
      {"plain drive", false, false, false, kReset, true, 2000, 0x12},
      {"IEEE 1394 drive, unit attention", true, false, false, kReset, false, 3000 + 5000, 0x12},
      {"IEEE 1394 drive, not ready", true, false, false, kNotReady, false, 3000 + 5000, 0x12},
      {"IEEE 1394 drive, hardware error", true, false, false, kHardware, true, 5000, 0x12},
      {"OEM code 0x300", false, true, false, kHardware, false, 5000, 0x00},
      {"re-flash longer than the time-out", false, false, true, {}, true, 2000, 0x12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    sim::RwConfig config;
    sim::RwImageSpec spec;
    if (c.oem300) {
      config.kernelModel = "GENERAL ";
      config.hwRevision = spec.hwRevision = "SCSI0102";
    }
    if (c.slowReflash) config.latency.reflash = 200000;
    // A slow re-flash is reported by the host's time-out; the drive itself answers good status.
    std::vector<int> failing = {0x3B, 0x05};
    if (c.slowReflash) failing.clear();
    auto owned = std::make_unique<AnswersFailed>(config, failing, c.sense);
    AnswersFailed& drive = *owned;
    m.AddAtLetter(std::move(owned), 'D').ieee1394 = c.ieee1394;
    m.WriteFile(kNormalFile, sim::BuildRwImage(spec));

    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_TRUE(InOrder(m.console, {kReflashingLine, kNew122, kSuccess, kCompleted}));
    EXPECT_EQ(Has(m.console, "\nFailed to move to the normal mode."), c.msg15);
    const size_t back = Find(m, {0x3B, 0x05});
    ASSERT_LT(back + 1, m.log.size());
    const uint32_t took = c.slowReflash ? 180000 : kSwitchBackMs;
    EXPECT_EQ(GapAfter(m, back), took + c.wait);
    EXPECT_EQ(m.log[back + 1].cdb[0], c.nextOpcode);
    if (c.oem300) {  // asked whether it is ready (its sense comes with the answer) first
      EXPECT_EQ(m.log[back + 2].cdb[0], 0x12);
    }
    EXPECT_EQ(drive.drive.Config().revision, "1.22");
    EXPECT_FALSE(drive.drive.InKernel());
  }
}

TEST(RwUpdate, DriveThatStaysInItsKernelOffersARetry) {
  const struct {
    const char* name;
    std::vector<int> answers;  // update question, then each retry question and update question
    bool recovers;             // the drive leaves its kernel on the next switch back
    int code;
    size_t passes;
  } cases[] = {
      {"no retry", {IDYES, IDNO}, false, 1, 1},
      {"retry that succeeds", {IDYES, IDYES, IDYES}, true, 0, 2},
      {"retry that fails, then no retry", {IDYES, IDYES, IDYES, IDNO}, false, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedMachine m;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.staysInKernel = true;
    sim::RwDrive& drive = rig.AddRw(config);
    rig.WriteRwImage();
    m.answers.assign(c.answers.begin(), c.answers.end());
    const std::string retry = "\nFailed to move to the normal mode.\r\nDo you retry to update ?";
    m.onBox = [&](const std::string& text) {
      if (text == retry && c.recovers) drive.Config().staysInKernel = false;
    };

    EXPECT_EQ(test::RunMain(m), c.code);
    EXPECT_EQ(ToNormal(m).size(), c.passes);
    EXPECT_EQ(NormalBlocks(m).size(), 64 * c.passes);
    // The retry applies the rules again to the drive as it now is, in its kernel: it is not
    // switched again and not asked for its region.
    EXPECT_EQ(ToKernel(m).size(), 1u);
    EXPECT_EQ(m.Sent({0xA4}).size(), 1u);
    const size_t retries =
        static_cast<size_t>(std::count_if(m.boxes.begin(), m.boxes.end(), [&](const sim::Box& b) {
          return b.text == retry && b.flags == kQuestion;
        }));
    EXPECT_EQ(retries, c.code == 0 ? c.passes - 1 : c.passes);
    if (c.passes == 2) {
      EXPECT_TRUE(
          InOrder(m.console, {kCurrent121, kReflashingLine, kCurrentKernel, kReflashingLine}));
      EXPECT_TRUE(Has(m.boxes.at(2).text, "From : KESTREL DVD-RW  QXR-515L 0000 "));
    }
    if (c.code == 0) {
      EXPECT_TRUE(InOrder(m.console, {kNew122, kSuccess, kCompleted}));
      EXPECT_EQ(drive.Config().revision, "1.22");
      EXPECT_FALSE(drive.InKernel());
    } else {
      EXPECT_TRUE(
          InOrder(m.console, {"\nNew Revision    >> KESTREL DVD-RW  QXR-515L 0000 ", kTerminated}));
      EXPECT_TRUE(drive.InKernel());
    }
  }
}

TEST(RwUpdate, JapaneseConsole) {
  const struct {
    int32_t model;
    std::vector<std::string> lines;
  } cases[] = {
      {0x100D,
       {"\rProcessing 100% --> データ転送完了\r\n内部でファームウェアを書き換えています..."}},
      {0x1004, {"\rProcessing 100% --> 完了", test::Ja(44)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    Definition def({Entry(c.model)});
    sim::Machine m;
    m.codePage = 932;
    sim::Rig rig(m);
    sim::RwConfig config;
    config.modelCode = static_cast<uint32_t>(c.model);
    config.latency.reflash = 1000;  // within the 5 s an older model's switch back may take
    rig.AddRw(config);
    rig.WriteRwImage();

    EXPECT_EQ(test::RunMain(m), 0);
    std::vector<std::string> expected = {kBanner,      test::Ja(34),        kCurrent121,
                                         test::Ja(61), "\n\rProcessing 0%", "\rProcessing 98%"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    expected.insert(expected.end(), {kNew122, test::Ja(12), test::Ja(35)});
    size_t at = 0;
    for (const std::string& t : expected) {
      at = m.console.find(t, at);
      ASSERT_NE(at, std::string::npos) << t << "\n" << m.console;
      at += t.size();
    }
    EXPECT_EQ(m.console.find("Data transfer"), std::string::npos);
    ASSERT_EQ(m.boxes.size(), 2u);
    EXPECT_TRUE(Has(m.boxes[0].text, "KESTREL DVD-RW  QXR-515L 1.21  (2008/07/10)"));
    EXPECT_FALSE(Has(m.boxes[0].text, "Do you want"));
    EXPECT_EQ(m.boxes[1].text, test::Ja(35));
  }
}

// --- Windows 98: the ASPI layer, behind three kinds of host adapter ------------------------

TEST(RwUpdateAspi, WaitsAndLinesByHostAdapter) {
  const struct {
    const char* adapter;
    int msg;               // start-up's notice of the adapter
    uint32_t afterKernel;  // settling after the kernel switch
    uint32_t afterBack;    // and after the switch back
    uint32_t perWrite;     // between a WRITE BUFFER's start and the next command
    bool intel;
  } cases[] = {
      {"ESDI_506", 0, 2000 + 1000, 3000, 0, false},
      {"intelata", 48, 1000, 3000 + 5000, 0, true},
      {"NTMAPHLP", 52, 2000 + 1000, 3000 + 5000, 500, false},
      {"", 52, 2000 + 1000, 3000 + 5000, 500, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.adapter);
    ScriptedMachine m;
    sim::Rig rig(m);
    rig.Windows98(c.adapter);
    sim::RwDrive& drive = rig.AddRw();
    rig.WriteRwImage();
    size_t blocksAt100 = 0;
    m.onWrite = [&](const std::string& text) {
      if (text == "\rProcessing 100%") blocksAt100 = NormalBlocks(m).size();
    };

    EXPECT_EQ(test::RunMain(m), 0);
    if (c.msg != 0) {
      EXPECT_TRUE(InOrder(m.console, {kBanner, test::En(c.msg), kCurrent121}));
    }
    if (c.intel) {
      // The drive reboots with the last block: the full line and message 44 come before it,
      // and no completion line after.
      EXPECT_TRUE(InOrder(m.console, {"\rProcessing 96%\rProcessing 100%" + test::En(44) + kNew122,
                                      kSuccess, kCompleted}));
      EXPECT_EQ(blocksAt100, 63u);
      EXPECT_EQ(Percents(m.console).size(), 64u);
    } else {
      EXPECT_TRUE(InOrder(m.console,
                          {"\rProcessing 98%" + std::string(kReflashingLine) + kNew122, kSuccess}));
      EXPECT_EQ(Percents(m.console).size(), 65u);
    }

    // A WRITE BUFFER through IEEE 1394 is polled every 500 ms rather than waited for.
    const uint32_t kernelSwitch = c.perWrite != 0 ? c.perWrite : kToKernelMs;
    const uint32_t block = c.perWrite != 0 ? c.perWrite : kBlockMs;
    const uint32_t switchBack = c.perWrite != 0 ? 16 * c.perWrite : kSwitchBackMs;
    const size_t toKernel = Find(m, {0x3B, 0x04});
    EXPECT_EQ(GapAfter(m, toKernel), kernelSwitch + c.afterKernel);
    const size_t first = Find(m, {0x3B, 0x07, 0xF0});
    for (size_t i = first; i < first + 63; ++i)
      EXPECT_EQ(GapAfter(m, i), block) << i;
    EXPECT_EQ(GapAfter(m, Find(m, {0x3B, 0x05})), switchBack + c.afterBack);
    EXPECT_EQ(GapAfter(m, Find(m, {0x12}, toKernel)), 2u);  // other commands are not polled
    EXPECT_EQ(NormalBlocks(m), WholeBlocks(64));
    EXPECT_EQ(drive.Config().revision, "1.22");
  }
}

TEST(RwUpdateAspi, IntelDriverSwitchesBackOnceMoreBeforeOfferingTheRetry) {
  ScriptedMachine m;
  sim::Rig rig(m);
  rig.Windows98("intelata");
  sim::RwConfig config;
  config.staysInKernel = true;
  sim::RwDrive& drive = rig.AddRw(config);
  rig.WriteRwImage();
  m.answers = {IDYES, IDNO};
  size_t switchesAtRetry = 0;
  m.onBox = [&](const std::string& text) {
    if (Has(text, "Do you retry")) switchesAtRetry = ToNormal(m).size();
  };

  EXPECT_EQ(test::RunMain(m), 1);
  EXPECT_EQ(switchesAtRetry, 2u);
  const size_t second = Find(m, {0x3B, 0x05}, Find(m, {0x3B, 0x05}) + 1);
  EXPECT_EQ(second, m.log.size() - 1);  // the last command of the run
  EXPECT_EQ(m.now - m.log[second].time, 2000u + 3000 + 5000);
  EXPECT_TRUE(InOrder(m.console, {test::En(44), kTerminated}));
  EXPECT_TRUE(drive.InKernel());
}

}  // namespace
}  // namespace rwscen
