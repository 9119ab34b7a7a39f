// Whole runs of the program updating one recordable drive: the road from the first INQUIRY to the
// new revision, the kernel part, a drive sold under another name, failures once the drive is in
// its kernel, a switch back that does not take, the Japanese console and the Windows 98 paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/image_tools.h"
#include "tests/rw_scenario.h"

namespace rwscen {
namespace {

// Default latencies of the virtual drive (ms): kernel switch, one block, switch back with re-flash.
constexpr uint32_t kToKernelMs = 400;
constexpr uint32_t kBlockMs = 120;
constexpr uint32_t kSwitchBackMs = 2000 + 6000;

TEST(RwUpdate, OneDriveFromItsNormalFirmwareToTheNewRevision) {
  Scene<> m;
  EXPECT_EQ(test::RunMain(m), 0);
  EXPECT_TRUE(InOrder(m.console, {kBanner, Start(1), kCurrent121, test::En(61),
                                  "\n\rProcessing 0%\rProcessing 1%\rProcessing 3%",
                                  "\rProcessing 98%" + std::string(kReflashingLine), kNew122,
                                  kSuccess, kCompleted}));
  // One line before each block, then the completion line.
  EXPECT_EQ(Percents(m.console).size(), 64u + 1);
  ASSERT_EQ(Boxes(m), "QI");
  EXPECT_TRUE(Has(m.boxes[0].text,
                  "\r\nDo you want to update the F/W\r\nFrom : KESTREL DVD-RW  "
                  "QXR-515L 1.21  (2008/07/10)\r\nTo : KESTREL DVD-RW  QXR-515L 1.22 "));
  EXPECT_EQ(m.boxes[1].text, kCompleted);

  // Kernel switch, the image in 64 blocks with nothing between them, the switch back, and the
  // INQUIRY that reads the new revision.
  const size_t toKernel = Find(m, {0x3B, 0x04, 0xFF});
  const size_t first = Find(m, {0x3B, 0x07, 0xF0});
  ASSERT_LT(toKernel, first);
  EXPECT_EQ(Blocks(m), WholeBlocks(64));
  const size_t back = Find(m, {0x3B, 0x05, 0xFF});
  ASSERT_EQ(back, first + 64);
  ASSERT_EQ(m.log.size(), back + 2);
  EXPECT_EQ(m.log[back + 1].cdb[0], 0x12);
  // The drive settles 2000 + 1000 ms after entering its kernel, and 3000 ms after its restart.
  EXPECT_EQ(GapAfter(m, toKernel), kToKernelMs + 2000 + 1000);
  EXPECT_EQ(GapAfter(m, back), kSwitchBackMs + 3000);

  EXPECT_EQ(m.drive.Config().revision, "1.22");
  EXPECT_FALSE(m.drive.InKernel());
  EXPECT_EQ(m.drive.ReceivedNormal(), m.image);
}

TEST(RwUpdate, TheLastBlockCarriesWhatRemainsOfTheImage) {
  sim::RwConfig config;
  config.normalPartSize = 0x200100;
  Scene<> m(config, nullptr, {.size = 0x200100});
  EXPECT_EQ(test::RunMain(m), 0);
  std::vector<Block> blocks = WholeBlocks(64);
  blocks.push_back({0x200000, 0x100});
  EXPECT_EQ(Blocks(m), blocks);
  EXPECT_TRUE(Has(m.console, "\rProcessing 98%\rProcessing 99%" + std::string(kReflashingLine)));
  EXPECT_EQ(m.drive.ReceivedNormal(), m.image);
}

TEST(RwUpdate, KernelPartGoesFirstWhenTheEntryAsksForIt) {
  Definition def({Entry(0x100D, 0)});
  Scene<> m;
  std::vector<uint8_t> kernel = m.rig.WriteRwImage(KernelSpec(), kKernelFile);

  EXPECT_EQ(test::RunMain(m), 0);
  EXPECT_TRUE(InOrder(m.console, {kCurrent121, kReflashingLine, kNew122, kSuccess}));
  // The kernel's own INQUIRY (is it the image's kernel already?), four kernel blocks, 2000 ms,
  // then the normal part, loaded again since the kernel image took its place.
  const size_t firstKernel = Find(m, {0x3B, 0x07, 0xFE});
  ASSERT_LT(Find(m, {0x3B, 0x04}), firstKernel);
  EXPECT_EQ(m.log[firstKernel - 1].cdb[0], 0x12);
  EXPECT_EQ(Blocks(m, 0xFE), WholeBlocks(4));
  const size_t firstNormal = Find(m, {0x3B, 0x07, 0xF0});
  ASSERT_EQ(firstNormal, firstKernel + 4);
  EXPECT_EQ(GapAfter(m, firstNormal - 1), kBlockMs + 2000);
  EXPECT_EQ(m.drive.ReceivedKernel(), kernel);
  EXPECT_EQ(m.drive.ReceivedNormal(), m.image);
  EXPECT_EQ(m.drive.Config().kernelVersion, "0105");
}

TEST(RwUpdate, DriveSoldUnderAnotherName) {
  // Its firmware reports dates by month name, its kernel the maker's identity, which every entry
  // accepts by kernel model; its images carry the short date form.
  for (bool inKernel : {false, true}) {
    SCOPED_TRACE(inKernel);
    sim::DefEntry entry;
    entry.vendor = "Lumarca ";
    entry.product = "DVD-RW  LMR-515L";
    Definition def({entry});
    sim::RwConfig config;
    config.vendor = entry.vendor;
    config.product = entry.product;
    config.revision = "1.22";
    config.date = "Jul252008";
    config.dateForm = sim::DateForm::Month;
    config.kernelIdentity = "KESTREL DVD-RW  QXR-515 ";
    config.startInKernel = inKernel;
    Scene<> m(config, nullptr,
              {.vendor = entry.vendor, .product = entry.product, .date = "08/07/25"});

    EXPECT_EQ(test::RunMain(m), 0);
    if (!inKernel) {  // the image's own firmware
      EXPECT_TRUE(InOrder(m.console, {"Lumarca DVD-RW  LMR-515L 1.22  Jul252008 ", test::En(54)}));
      continue;
    }
    EXPECT_TRUE(InOrder(
        m.console, {"\nCurrent Revision>> KESTREL DVD-RW  QXR-515  0000  08/05/20",
                    "\nNew Revision    >> Lumarca DVD-RW  LMR-515L 1.22  Jul25200", kSuccess}));
    EXPECT_TRUE(Has(m.boxes.at(0).text, "To : Lumarca DVD-RW  LMR-515L 1.22  (2008/07/25)"));
  }
}

TEST(RwUpdate, PowerLostMidTransferThenTheNextRunCompletesTheUpdate) {
  // Through pass-through and ASPI the lost block times out; through IEEE 1394 its polling does.
  for (const char* adapter : {(const char*)nullptr, "ESDI_506", "NTMAPHLP"}) {
    SCOPED_TRACE(adapter != nullptr ? adapter : "pass-through");
    sim::RwConfig config;
    config.powerLossAfterBlocks = 20;
    Scene<> m(config, adapter);

    EXPECT_EQ(test::RunMain(m), 1);
    EXPECT_TRUE(InOrder(m.console, {"\rProcessing 31%", test::En(42), kTerminated}));
    EXPECT_EQ(Blocks(m), WholeBlocks(21));      // the 21st is never answered
    EXPECT_TRUE(m.Sent({0x3B, 0x05}).empty());  // no switch back

    // Power comes back: the old firmware is erased and the new one incomplete, so the drive
    // stays in its kernel, where the next run finds it by its kernel model name.
    m.drive.PowerCycle();
    ASSERT_TRUE(m.drive.InKernel());
    m.console.clear();
    m.log.clear();
    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_TRUE(InOrder(m.console, {Start(1), kCurrentKernel, kReflashingLine, kNew122, kSuccess}));
    EXPECT_TRUE(m.Sent({0x3B, 0x04}).empty());  // no kernel switch
    EXPECT_TRUE(m.Sent({0xA4}).empty());
    EXPECT_EQ(Blocks(m), WholeBlocks(64));
    EXPECT_EQ(m.drive.ReceivedNormal(), m.image);
    EXPECT_FALSE(m.drive.InKernel());
    EXPECT_EQ(m.aspiOverlaps, 0);
    EXPECT_EQ(m.aspiFreedPending, 0);
  }
}

TEST(RwUpdate, FailuresFromTheKernelSwitchOnAreFatal) {
  const sim::RwImageSpec kKernel = KernelSpec(), kNoFile = {.size = 0};
  const struct {
    const char* name;
    int32_t upgType;
    sim::RwImageSpec kernel;  // size 0: no kernel file
    std::vector<int> cdb;     // of the command that fails with a write error; empty: none
    int nth;
    std::vector<int> msgs;
    const char* boxes;
    size_t kernelBlocks = 0, normalBlocks = 0;
  } cases[] = {
      // clang-format off
      {"kernel switch",       1, kKernel, {0x3B, 0x04},       1, {14}, "QW"},
      {"fifth normal block",  1, kKernel, {0x3B, 0x07, 0xF0}, 5, {42}, "QSW", 0, 5},
      {"second kernel block", 0, kKernel, {0x3B, 0x07, 0xFE}, 2, {41}, "QSW", 2, 0},
      // The kernel part cannot be written: nothing after the kernel switch.
      {"the drive runs it already", 0, {.size = 0x20000, .part = 'K'}, {}, 0, {10},    "QW"},
      {"no kernel file",            0, kNoFile,                        {}, 0, {72},    "QW"},
      {"a normal image as kernel",  0, {.size = 0x20000, .kernelVersion = "0105"}, {}, 0, {39, 72}, "QSW"},
      // Its last block would carry whatever the image buffer held after the file.
      {"short of the kernel part",  0, {.size = 0x18000, .part = 'K', .kernelVersion = "0105"}, {}, 0,
       {72}, "QW"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Definition def({Entry(0x100D, c.upgType)});
    sim::RwConfig config;
    config.kernelDate = sim::LongDateText(0x20080725);  // the kernel image's date
    Scene<> m(config);
    if (c.kernel.size != 0) m.rig.WriteRwImage(c.kernel, kKernelFile);
    if (!c.cdb.empty()) m.faults = {{.cdb = c.cdb, .nth = c.nth, .sense = {3, 0x0C, 0x00}}};

    EXPECT_EQ(test::RunMain(m), 1);
    std::vector<std::string> texts = {test::En(61)};
    for (int id : c.msgs)
      texts.push_back(test::En(id));
    texts.push_back(kTerminated);
    EXPECT_TRUE(InOrder(m.console, texts));
    EXPECT_EQ(Boxes(m), c.boxes);
    EXPECT_EQ(Blocks(m, 0xFE).size(), c.kernelBlocks);
    EXPECT_EQ(Blocks(m).size(), c.normalBlocks);
    EXPECT_TRUE(m.Sent({0x3B, 0x05}).empty());  // no switch back
    EXPECT_EQ(m.drive.InKernel(), c.msgs[0] != 14);
    EXPECT_EQ(m.drive.Config().revision, "1.21");
  }
}

TEST(RwUpdate, SwitchBackReportedFailedIsJudgedByTheNewRevision) {
  // The re-flash outlasts the 180 s the switch back may take: the failure is reported and waited
  // 2000 ms for, and the INQUIRY after it finds the new revision.
  sim::RwConfig config;
  config.latency.reflash = 200000;
  Scene<> m(config);
  EXPECT_EQ(test::RunMain(m), 0);
  EXPECT_TRUE(InOrder(m.console, {kReflashingLine, "\nFailed to move to the normal mode.", kNew122,
                                  kSuccess, kCompleted}));
  const size_t back = Find(m, {0x3B, 0x05});
  EXPECT_EQ(GapAfter(m, back), 180000u + 2000);
  EXPECT_EQ(m.log.at(back + 1).cdb[0], 0x12);
  EXPECT_FALSE(m.drive.InKernel());
}

TEST(RwUpdate, DriveThatStaysInItsKernelOffersARetry) {
  const struct {
    const char* name;
    const char* adapter;       // none: pass-through
    std::vector<int> answers;  // update question, then each retry question and update question
    bool recovers;             // the drive leaves its kernel on the next switch back
    int code;
    size_t passes, switchBacks;
  } cases[] = {
      {"no retry", nullptr, {IDYES, IDNO}, false, 1, 1, 1},
      {"retry that succeeds", nullptr, {IDYES, IDYES, IDYES}, true, 0, 2, 2},
      {"retry that fails, then no retry", nullptr, {IDYES, IDYES, IDYES, IDNO}, false, 1, 2, 2},
      // The Intel driver's path tries the switch back once more before it asks.
      {"Intel driver, no retry", "intelata", {IDYES, IDNO}, false, 1, 1, 2},
  };
  const std::string retry = "\nFailed to move to the normal mode.\r\nDo you retry to update ?";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::RwConfig config;
    config.staysInKernel = true;
    Scene<ScriptedMachine> m(config, c.adapter);
    m.answers.assign(c.answers.begin(), c.answers.end());
    m.onBox = [&](const std::string& text) {
      if (text == retry && c.recovers) m.drive.Config().staysInKernel = false;
    };

    EXPECT_EQ(test::RunMain(m), c.code);
    EXPECT_EQ(m.Sent({0x3B, 0x05}).size(), c.switchBacks);  // tries to leave the kernel
    EXPECT_EQ(Blocks(m).size(), 64 * c.passes);
    // The retry applies the rules again to the drive as it now is, in its kernel: it is not
    // switched again and not asked for its region.
    EXPECT_EQ(m.Sent({0x3B, 0x04}).size(), 1u);  // one kernel switch
    EXPECT_EQ(m.Sent({0xA4}).size(), 1u);
    if (c.passes == 2) {
      EXPECT_TRUE(
          InOrder(m.console, {kCurrent121, kReflashingLine, kCurrentKernel, kReflashingLine}));
      EXPECT_TRUE(Has(m.boxes.at(2).text, "From : KESTREL DVD-RW  QXR-515L 0000 "));
    }
    EXPECT_TRUE(InOrder(
        m.console, {c.code == 0 ? kNew122 : "\nNew Revision    >> KESTREL DVD-RW  QXR-515L 0000 ",
                    c.code == 0 ? kSuccess : kTerminated}));
    EXPECT_EQ(m.drive.InKernel(), c.code != 0);
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
    sim::RwConfig config;
    config.modelCode = static_cast<uint32_t>(c.model);
    config.latency.reflash = 1000;  // within the 5 s an older model's switch back may take
    Scene<> m(config);
    m.codePage = 932;

    EXPECT_EQ(test::RunMain(m), 0);
    std::vector<std::string> expected = {kBanner, test::Ja(34), kCurrent121, test::Ja(61),
                                         "\rProcessing 98%"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    expected.insert(expected.end(), {kNew122, test::Ja(12), test::Ja(35)});
    EXPECT_TRUE(InOrder(m.console, expected));
    EXPECT_FALSE(Has(m.boxes.at(0).text, "Do you want"));
  }
}

TEST(RwUpdateAspi, WaitsAndLinesByHostAdapter) {
  const struct {
    const char* adapter;
    int msg;               // start-up's notice of the adapter
    uint32_t afterKernel;  // settling after the kernel switch
    uint32_t afterBack;    // and after the switch back
    uint32_t poll;         // a WRITE BUFFER is polled this often, rather than waited for
  } cases[] = {
      {"ESDI_506", 0, 2000 + 1000, 3000, 0},
      {"intelata", 48, 1000, 3000 + 5000, 0},
      {"NTMAPHLP", 52, 2000 + 1000, 3000 + 5000, 500},
      {"", 52, 2000 + 1000, 3000 + 5000, 500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.adapter);
    Scene<ScriptedMachine> m({}, c.adapter);
    size_t blocksAt100 = 0;
    m.onWrite = [&](const std::string& text) {
      if (text == "\rProcessing 100%") blocksAt100 = Blocks(m).size();
    };
    const bool intel = c.msg == 48;

    EXPECT_EQ(test::RunMain(m), 0);
    EXPECT_TRUE(c.msg == 0 || InOrder(m.console, {kBanner, test::En(c.msg), kCurrent121}));
    if (intel) {
      // The drive reboots with the last block: the full line and message 44 come before it,
      // and no completion line after.
      EXPECT_TRUE(InOrder(m.console, {"\rProcessing 96%\rProcessing 100%" + test::En(44) + kNew122,
                                      kSuccess, kCompleted}));
      EXPECT_EQ(blocksAt100, 63u);
    } else {
      EXPECT_TRUE(Has(m.console, "\rProcessing 98%" + std::string(kReflashingLine) + kNew122));
    }
    EXPECT_EQ(Percents(m.console).size(), intel ? 64u : 65u);

    const size_t toKernel = Find(m, {0x3B, 0x04});
    EXPECT_EQ(GapAfter(m, toKernel), (c.poll != 0 ? c.poll : kToKernelMs) + c.afterKernel);
    const size_t first = Find(m, {0x3B, 0x07, 0xF0});
    for (size_t i = first; i < first + 63; ++i)
      EXPECT_EQ(GapAfter(m, i), c.poll != 0 ? c.poll : kBlockMs) << i;
    EXPECT_EQ(GapAfter(m, Find(m, {0x3B, 0x05})),
              (c.poll != 0 ? 16 * c.poll : kSwitchBackMs) + c.afterBack);
    EXPECT_EQ(GapAfter(m, Find(m, {0x12}, toKernel)), 2u);  // other commands are not polled
    EXPECT_EQ(m.drive.Config().revision, "1.22");
  }
}

}  // namespace
}  // namespace rwscen
