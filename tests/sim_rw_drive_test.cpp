// The virtual recordable drive at the command level: identity, disc state, the mode switches and
// their checks, image blocks, the re-flash and the drive's own faults.
#include <gtest/gtest.h>

#include "sim/image_tools.h"
#include "sim/rw_drive.h"
#include "tests/sim_cdb.h"

using namespace simtest;

namespace {

constexpr uint32_t kKey = 0x5B7E2D94;
const char kK58[] = "KESTREL  QXR-K58";

sim::RwConfig Default() {
  return sim::RwConfig{};
}

bool ToKernel(sim::RwDrive& d, uint32_t key = kKey + 5) {
  return Good(Out(d, WriteBuffer(4, 0xFF, 0, 256), SwitchBlock(kK58, key)));
}
sim::Result ToNormal(sim::RwDrive& d, uint32_t key = kKey + 5) {
  return Out(d, WriteBuffer(5, 0xFF, 0, 256), SwitchBlock(kK58, key));
}
// Sends an image as the update does: blocks of 0x8000 from offset 0.
bool SendImage(sim::RwDrive& d, uint8_t id, const Bytes& image, size_t upTo = SIZE_MAX) {
  for (size_t at = 0; at < std::min(upTo, image.size()); at += 0x8000) {
    size_t n = std::min<size_t>(0x8000, image.size() - at);
    Bytes block(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at + n));
    if (!Good(
            Out(d, WriteBuffer(7, id, static_cast<uint32_t>(at), static_cast<uint32_t>(n)), block)))
      return false;
  }
  return true;
}
Bytes Inq(sim::RwDrive& d) {
  Bytes data;
  EXPECT_TRUE(Good(In(d, Inquiry(), 96, &data)));
  return data;
}
Bytes Info(sim::RwDrive& d) {
  Bytes data;
  EXPECT_TRUE(Good(In(d, ReadBuffer(2, 0xF1, 0, 48), 48, &data)));
  return data;
}
sim::RwImageSpec Image122() {
  sim::RwImageSpec spec;
  spec.revision = "1.22 ";
  spec.date = sim::LongDateText(0x20080725);
  spec.hwRevision = "HW  0103";
  spec.normalModel = "KES_NRM ";
  return spec;
}

TEST(RwDrive, InquiryReportsTheRunningFirmwareCutToTheAllocationLength) {
  sim::RwDrive drive;
  Bytes d = Inq(drive);
  ASSERT_EQ(d.size(), 96u);
  EXPECT_EQ(d[0], 5);
  EXPECT_EQ(Text(d, 8, 24), "KESTREL DVD-RW  QXR-515L");
  EXPECT_EQ(Text(d, 32, 5), "1.21 ");
  EXPECT_EQ(Text(d, 37, 8), "08/07/10");

  Bytes cut;
  EXPECT_TRUE(Good(In(drive, Inquiry(36), 96, &cut)));
  EXPECT_EQ(cut, Bytes(d.begin(), d.begin() + 36));
  EXPECT_TRUE(Good(In(drive, Inquiry(96), 20, &cut)));  // the host's buffer is smaller still
  EXPECT_EQ(cut.size(), 20u);
}

TEST(RwDrive, KernelModeShowsTheKernelRevisionDateAndABlankNormalModel) {
  sim::RwDrive drive;
  Bytes info = Info(drive);
  EXPECT_EQ(Text(info, 16, 24), "HW  0102KES_ADV KES_ADV ");

  ASSERT_TRUE(ToKernel(drive));
  Bytes d = Inq(drive);
  EXPECT_EQ(Text(d, 8, 24), "KESTREL DVD-RW  QXR-515L");
  EXPECT_EQ(Text(d, 32, 4), "0000");
  EXPECT_EQ(Text(d, 37, 8), "08/05/20");
  info = Info(drive);
  EXPECT_EQ(Text(info, 16, 24), "HW  0102KES_ADV         ");
}

TEST(RwDrive, DriveInformationOnlyFromItsBuffer) {
  sim::RwDrive drive;
  Bytes d;
  EXPECT_TRUE(Checked(In(drive, ReadBuffer(2, 0xF0, 0, 48), 48, &d), sim::kInvalidField));
  EXPECT_TRUE(Checked(In(drive, ReadBuffer(1, 0x80, 0, 48), 48, &d), sim::kInvalidField));
  EXPECT_TRUE(Good(In(drive, ReadBuffer(2, 0xF1, 16, 8), 48, &d)));
  EXPECT_EQ(Text(d, 0, 8), "HW  0102");
}

TEST(RwDrive, TestUnitReadyFollowsTheDiscAfterTheUnitAttentions) {
  sim::RwConfig config;
  config.unitAttentions = 2;
  config.disc = sim::Disc::Loaded;
  sim::RwDrive drive(config);
  EXPECT_TRUE(Checked(NoData(drive, TestUnitReady()), sim::kMediumChanged));
  EXPECT_TRUE(Checked(NoData(drive, TestUnitReady()), sim::kMediumChanged));
  EXPECT_TRUE(Good(NoData(drive, TestUnitReady())));

  EXPECT_TRUE(Good(NoData(drive, StartStop(0))));  // a stop leaves the disc in
  EXPECT_TRUE(Good(NoData(drive, TestUnitReady())));
  EXPECT_TRUE(Good(NoData(drive, StartStop(2))));  // eject
  EXPECT_TRUE(Checked(NoData(drive, TestUnitReady()), sim::kNoMedium));

  config = Default();
  config.disc = sim::Disc::BecomingReady;
  config.readyAt = 5000;
  sim::RwDrive spinning(config);
  EXPECT_TRUE(Checked(NoData(spinning, TestUnitReady(), 4999), sim::kBecomingReady));
  EXPECT_TRUE(Good(NoData(spinning, TestUnitReady(), 5000)));
}

TEST(RwDrive, KernelNeverReportsADiscReady) {
  sim::RwConfig config;
  config.disc = sim::Disc::Loaded;
  sim::RwDrive drive(config);
  ASSERT_TRUE(ToKernel(drive));
  EXPECT_TRUE(Checked(NoData(drive, TestUnitReady()), sim::kNotReadyInitRequired));
  drive.Config().disc = sim::Disc::None;
  EXPECT_TRUE(Checked(NoData(drive, TestUnitReady()), sim::kNoMedium));
}

TEST(RwDrive, RequestSenseReturnsTheLastCheckConditionOnce) {
  sim::RwDrive drive;
  EXPECT_TRUE(Checked(NoData(drive, {0xBB, 0, 0, 0, 0, 0}), sim::kInvalidOpcode));
  Bytes s;
  EXPECT_TRUE(Good(In(drive, Inquiry(), 96, &s)));  // a good command keeps the sense
  ASSERT_TRUE(Good(In(drive, RequestSense(), 18, &s)));
  ASSERT_EQ(s.size(), 18u);
  EXPECT_EQ(s[0], 0x70);
  EXPECT_EQ(s[2], 0x05);
  EXPECT_EQ(s[12], 0x20);
  EXPECT_EQ(s[13], 0x00);
  ASSERT_TRUE(Good(In(drive, RequestSense(), 18, &s)));
  EXPECT_EQ(s[2], 0);
  EXPECT_EQ(s[12], 0);
}

TEST(RwDrive, ReportKeyGivesTheRpcSchemeInNormalModeOnly) {
  sim::RwConfig config;
  config.rpcScheme = 0;
  sim::RwDrive drive(config);
  Bytes d;
  ASSERT_TRUE(Good(In(drive, ReportKey(8, 8), 8, &d)));
  ASSERT_EQ(d.size(), 8u);
  EXPECT_EQ(d[1], 6);
  EXPECT_EQ(d[6], 0);
  EXPECT_TRUE(Checked(In(drive, ReportKey(5, 8), 8, &d), sim::kInvalidField));
  drive.Config().rpcScheme = 1;
  ASSERT_TRUE(Good(In(drive, ReportKey(8, 8), 8, &d)));
  EXPECT_EQ(d[6], 1);
  ASSERT_TRUE(ToKernel(drive));
  EXPECT_TRUE(Checked(In(drive, ReportKey(8, 8), 8, &d), sim::kInvalidOpcode));
}

// The mode key a drive with model code 0x100D expects, by kernel model name and direction.
struct KeyCase {
  const char* kernelModel;
  uint32_t toKernel;
  uint32_t toNormal;
};

class RwModeKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(RwModeKey, OnlyTheKeyOfTheKernelModelSwitches) {
  const KeyCase& k = GetParam();
  sim::RwConfig config;
  config.kernelModel = k.kernelModel;
  config.modeKeyBase = 0x5B7E2DFD;  // low byte carries when 5 is added
  sim::RwDrive drive(config);
  for (uint32_t wrong : {k.toKernel - 1, k.toKernel + 1, k.toNormal ^ 0x100})
    if (wrong != k.toKernel) {
      EXPECT_FALSE(ToKernel(drive, wrong)) << std::hex << wrong;
    }
  EXPECT_FALSE(drive.InKernel());
  ASSERT_TRUE(ToKernel(drive, k.toKernel));
  EXPECT_TRUE(drive.InKernel());
  if (k.toNormal != k.toKernel) {
    EXPECT_TRUE(Checked(ToNormal(drive, k.toKernel), sim::kInvalidParameter));
  }
  EXPECT_TRUE(drive.InKernel());
  EXPECT_TRUE(Good(ToNormal(drive, k.toNormal)));
  EXPECT_FALSE(drive.InKernel());
}

INSTANTIATE_TEST_SUITE_P(KernelModels, RwModeKey,
                         ::testing::Values(KeyCase{"KES_ADV ", 0x5B7E2E02, 0x5B7E2E02},
                                           KeyCase{"GENERAL ", 0x5B7E2E03, 0x5B7E2E03},
                                           KeyCase{"FARDEL  ", 0x5B7E2E03, 0x5B7E2E03},
                                           KeyCase{"FARDEL2 ", 0x5B7E2E03, 0x5B7E2E03},
                                           KeyCase{"QUILL   ", 0x5B7E2D02, 0x5B7E2E02},
                                           KeyCase{"COMPO   ", 0x5B7E2DFD, 0x5B7E2DFD}));

TEST(RwDrive, SignatureFollowsTheModelCode) {
  struct Case {
    uint32_t model;
    const char* toKernel;
    const char* toNormal;
  };
  const Case cases[] = {
      {0x1003, "KESTREL QXR-S701", "KESTREL QXR-S701"},
      {0x1004, "KESTREL DVD-R504", "KESTREL DVD-R504"},
      {0x1041, "KESTREL  QXR-505", "KESTREL  QXR-K51"},
      {0x1048, "KESTREL  QXR-K58", "KESTREL  QXR-K58"},
      {0x1099, nullptr, nullptr},  // unknown models expect 16 zero bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    sim::RwConfig config;
    config.modelCode = c.model;
    sim::RwDrive drive(config);
    // Keys matter only to 0x100D and 0x1048; other models ignore bytes 16..19.
    const uint32_t key = c.model == 0x1048 ? kKey + 5 : 0x12345678;
    EXPECT_TRUE(
        Checked(Out(drive, WriteBuffer(4, 0xFF, 0, 256), SwitchBlock("KESTREL  QXR-K5X", key)),
                sim::kInvalidParameter));
    if (c.model == 0x1041) {
      EXPECT_TRUE(Checked(Out(drive, WriteBuffer(4, 0xFF, 0, 256), SwitchBlock(c.toNormal, key)),
                          sim::kInvalidParameter));
    }
    EXPECT_TRUE(Good(Out(drive, WriteBuffer(4, 0xFF, 0, 256), SwitchBlock(c.toKernel, key))));
    EXPECT_TRUE(drive.InKernel());
    EXPECT_TRUE(Good(Out(drive, WriteBuffer(5, 0xFF, 0, 256), SwitchBlock(c.toNormal, key))));
    EXPECT_FALSE(drive.InKernel());
  }
}

TEST(RwDrive, SwitchBlockMustBe256BytesAndReservedBytesAreIgnoredUnlessStrict) {
  sim::RwDrive drive;
  EXPECT_TRUE(Checked(Out(drive, WriteBuffer(4, 0xFF, 0, 128), SwitchBlock(kK58, kKey + 5)),
                      sim::kParamListLength));
  EXPECT_TRUE(Checked(NoData(drive, WriteBuffer(4, 0xFF, 0, 0)), sim::kParamListLength));
  Bytes stale = SwitchBlock(kK58, kKey + 5);
  stale[200] = 0x5A;
  EXPECT_TRUE(Good(Out(drive, WriteBuffer(4, 0xFF, 0, 256), stale)));
  EXPECT_EQ(drive.LastSwitchBlock(), stale);

  sim::RwConfig config;
  config.strictReserved = true;
  sim::RwDrive strict(config);
  EXPECT_TRUE(Checked(Out(strict, WriteBuffer(4, 0xFF, 0, 256), stale), sim::kInvalidParameter));
  EXPECT_FALSE(strict.InKernel());
}

TEST(RwDrive, BlocksOnlyInKernelModeInOrderAndInsideFlash) {
  sim::RwDrive drive;
  Bytes block(0x8000, 0xA5);
  EXPECT_TRUE(Checked(Out(drive, WriteBuffer(7, 0xF0, 0, 0x8000), block), sim::kSequenceError));
  EXPECT_TRUE(Checked(Out(drive, WriteBuffer(7, 0xFE, 0, 0x8000), block), sim::kSequenceError));
  ASSERT_TRUE(ToKernel(drive));

  EXPECT_TRUE(Checked(Out(drive, WriteBuffer(7, 0xF0, 0x8000, 0x8000), block), sim::kInvalidField))
      << "a gap before the block";
  EXPECT_TRUE(Good(Out(drive, WriteBuffer(7, 0xF0, 0, 0x8000), block)));
  EXPECT_TRUE(Good(Out(drive, WriteBuffer(7, 0xF0, 0x8000, 0x8000), block)));
  EXPECT_TRUE(Good(Out(drive, WriteBuffer(7, 0xF0, 0x4000, 0x8000), block)));  // rewrite
  EXPECT_EQ(drive.ReceivedNormal().size(), 0x10000u);

  EXPECT_TRUE(Checked(Out(drive, WriteBuffer(7, 0xF0, 0x10000, 0x8000), Bytes(0x100)),
                      sim::kParamListLength))
      << "the host sent less than the CDB announces";
  EXPECT_TRUE(Good(Out(drive, WriteBuffer(7, 0xFE, 0x18000, 0), Bytes())));
  EXPECT_TRUE(
      Checked(Out(drive, WriteBuffer(7, 0xFE, 0x18000, 0x8001), Bytes(0x8001)), sim::kInvalidField))
      << "past the kernel flash";

  sim::RwConfig small;
  small.normalFlash = 0x10000;
  sim::RwDrive full(small);
  ASSERT_TRUE(ToKernel(full));
  ASSERT_TRUE(SendImage(full, 0xF0, Bytes(0x10000, 1)));
  EXPECT_TRUE(Checked(Out(full, WriteBuffer(7, 0xF0, 0x10000, 2), Bytes(2)), sim::kInvalidField));
}

TEST(RwDrive, CompleteNormalPartBecomesTheFirmwareOnTheWayBack) {
  sim::RwDrive drive;
  const Bytes image = sim::BuildRwImage(Image122());
  ASSERT_TRUE(ToKernel(drive));
  ASSERT_TRUE(SendImage(drive, 0xF0, image));
  EXPECT_EQ(drive.ReceivedNormal(), image);
  sim::Result back = ToNormal(drive);
  ASSERT_TRUE(Good(back));
  EXPECT_EQ(back.latencyMs, 8000u);
  EXPECT_FALSE(drive.InKernel());
  EXPECT_EQ(drive.Reflashes(), 1);

  Bytes d = Inq(drive);
  EXPECT_EQ(Text(d, 8, 24), "KESTREL DVD-RW  QXR-515L");
  EXPECT_EQ(Text(d, 32, 5), "1.22 ");
  EXPECT_EQ(Text(d, 37, 8), "08/07/25");
  EXPECT_EQ(Text(Info(drive), 16, 24), "HW  0103KES_ADV KES_NRM ");
}

TEST(RwDrive, DriveReportsAReflashedDateInItsOwnForm) {
  sim::RwConfig config;
  config.dateForm = sim::DateForm::Full;
  config.date = "2008/07/10";
  sim::RwDrive drive(config);
  ASSERT_TRUE(ToKernel(drive));
  ASSERT_TRUE(SendImage(drive, 0xF0, sim::BuildRwImage(Image122())));
  ASSERT_TRUE(Good(ToNormal(drive)));
  EXPECT_EQ(Text(Inq(drive), 37, 11), "2008/07/25 ");
}

TEST(RwDrive, LumarcaDriveReportsItsDateWithTheMonthName) {
  sim::RwConfig config;
  config.vendor = "Lumarca ";
  config.dateForm = sim::DateForm::Month;
  config.date = "Jul102008";
  sim::RwDrive drive(config);
  sim::RwImageSpec spec = Image122();
  spec.vendor = "Lumarca ";
  spec.date = "08/07/25";  // the short form, as such images carry it
  ASSERT_TRUE(ToKernel(drive));
  ASSERT_TRUE(SendImage(drive, 0xF0, sim::BuildRwImage(spec)));
  ASSERT_TRUE(Good(ToNormal(drive)));
  Bytes d = Inq(drive);
  EXPECT_EQ(Text(d, 8, 8), "Lumarca ");
  EXPECT_EQ(Text(d, 37, 9), "Jul252008");
}

TEST(RwDrive, KernelPartTakesEffectWithTheNormalPart) {
  sim::RwDrive drive;
  sim::RwImageSpec k;
  k.size = 0x20000;
  k.part = 'K';
  k.kernelVersion = "0001";
  k.date = "08/06/30";
  ASSERT_TRUE(ToKernel(drive));
  ASSERT_TRUE(SendImage(drive, 0xFE, sim::BuildRwImage(k)));
  EXPECT_EQ(Text(Inq(drive), 32, 4), "0000") << "the running kernel is still the old one";
  ASSERT_TRUE(SendImage(drive, 0xF0, sim::BuildRwImage(Image122())));
  ASSERT_TRUE(Good(ToNormal(drive)));
  ASSERT_TRUE(ToKernel(drive));
  Bytes d = Inq(drive);
  EXPECT_EQ(Text(d, 32, 4), "0001");
  EXPECT_EQ(Text(d, 37, 8), "08/06/30");
}

TEST(RwDrive, IncompleteNormalPartKeepsTheDriveInItsKernel) {
  sim::RwImageSpec wrongPart = Image122();
  wrongPart.part = 'K';
  sim::RwImageSpec foreign = Image122();
  foreign.kernelModel = "OTHER   ";
  const struct {
    const char* what;
    Bytes image;
    size_t sent;
  } cases[] = {
      {"short", sim::BuildRwImage(Image122()), 0x1F8000},
      {"kernel letter", sim::BuildRwImage(wrongPart), SIZE_MAX},
      {"foreign kernel model", sim::BuildRwImage(foreign), SIZE_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::RwDrive drive;
    ASSERT_TRUE(ToKernel(drive));
    ASSERT_TRUE(SendImage(drive, 0xF0, c.image, c.sent));
    EXPECT_TRUE(Checked(ToNormal(drive), sim::kSequenceError));
    EXPECT_TRUE(drive.InKernel());
    EXPECT_EQ(Text(Inq(drive), 32, 4), "0000");
    EXPECT_EQ(drive.Reflashes(), 0);
  }
}

TEST(RwDrive, WithoutBlocksTheOldFirmwareRunsAgain) {
  sim::RwDrive drive;
  ASSERT_TRUE(ToKernel(drive));
  sim::Result back = ToNormal(drive);
  ASSERT_TRUE(Good(back));
  EXPECT_EQ(back.latencyMs, 2000u);
  EXPECT_EQ(Text(Inq(drive), 32, 4), "1.21");
  EXPECT_EQ(drive.Reflashes(), 0);
  EXPECT_TRUE(Good(ToNormal(drive))) << "already running the normal firmware";
}

TEST(RwDrive, PowerLossSilencesTheDriveUntilItComesBackInItsKernel) {
  sim::RwConfig config;
  config.powerLossAfterBlocks = 3;
  sim::RwDrive drive(config);
  const Bytes image = sim::BuildRwImage(Image122());
  ASSERT_TRUE(ToKernel(drive));
  ASSERT_TRUE(SendImage(drive, 0xF0, image, 3 * 0x8000));
  Bytes block(image.begin() + 3 * 0x8000, image.begin() + 4 * 0x8000);
  EXPECT_TRUE(Out(drive, WriteBuffer(7, 0xF0, 3 * 0x8000, 0x8000), block).noResponse);
  Bytes d;
  EXPECT_TRUE(In(drive, Inquiry(), 96, &d).noResponse);
  EXPECT_TRUE(NoData(drive, TestUnitReady()).noResponse);
  EXPECT_FALSE(drive.Powered());

  drive.PowerCycle();
  EXPECT_TRUE(drive.InKernel());
  EXPECT_EQ(Text(Inq(drive), 32, 4), "0000");
  EXPECT_EQ(drive.ReceivedNormal(), Bytes(image.begin(), image.begin() + 3 * 0x8000));
  EXPECT_TRUE(Checked(ToNormal(drive), sim::kSequenceError));
  ASSERT_TRUE(SendImage(drive, 0xF0, image)) << "the fault does not come back";
  EXPECT_TRUE(Good(ToNormal(drive)));
  EXPECT_EQ(Text(Inq(drive), 32, 4), "1.22");
}

TEST(RwDrive, PowerCycleBootsWhatFlashHolds) {
  sim::RwDrive untouched;
  ASSERT_TRUE(ToKernel(untouched));
  untouched.PowerCycle();
  EXPECT_FALSE(untouched.InKernel());
  EXPECT_EQ(Text(Inq(untouched), 32, 4), "1.21");

  sim::RwDrive written;
  ASSERT_TRUE(ToKernel(written));
  ASSERT_TRUE(SendImage(written, 0xF0, sim::BuildRwImage(Image122())));
  written.PowerCycle();
  EXPECT_FALSE(written.InKernel());
  EXPECT_EQ(Text(Inq(written), 32, 4), "1.22");
}

TEST(RwDrive, StuckDriveAcceptsTheSwitchBackButStaysInItsKernel) {
  sim::RwConfig config;
  config.staysInKernel = true;
  sim::RwDrive drive(config);
  ASSERT_TRUE(ToKernel(drive));
  ASSERT_TRUE(SendImage(drive, 0xF0, sim::BuildRwImage(Image122())));
  EXPECT_TRUE(Good(ToNormal(drive)));
  EXPECT_TRUE(drive.InKernel());
  EXPECT_EQ(Text(Inq(drive), 32, 4), "0000");
  EXPECT_EQ(drive.Reflashes(), 0);
}

}  // namespace
