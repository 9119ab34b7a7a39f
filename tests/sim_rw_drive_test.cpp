// The virtual recordable drive at the command level: what whole updates never provoke — refusals,
// the mode-switch checks, partial images and the drive's own faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sim/image_tools.h"
#include "sim/rw_drive.h"
#include "tests/sim_cdb.h"

using namespace simtest;

namespace {

// A mode-switch block with the signature of the default model and a key, by default the one of its
// kernel model.
Bytes SwitchBlock(uint32_t key = 0x5B7E2D99) {
  Bytes block(256, 0);
  std::memcpy(block.data(), "KESTREL  QXR-K58", 16);
  for (int i = 0; i < 4; ++i)
    block[16 + i] = static_cast<uint8_t>(key >> (8 * i));
  return block;
}

// A drive with the exchanges these tests repeat.
struct Rw : sim::RwDrive {
  using sim::RwDrive::RwDrive;
  sim::Result Switch(uint8_t mode, uint32_t key = 0x5B7E2D99) {
    return Out(*this, simtest::WriteBuffer(mode, 0xFF, 0, 256), SwitchBlock(key));
  }
  bool ToKernel() { return Good(Switch(4)); }
  Bytes Read(const Bytes& cdb) {
    Bytes data;
    EXPECT_TRUE(Good(In(*this, cdb, 96, &data)));
    return data;
  }
  Bytes Inq() { return Read(simtest::Inquiry()); }
  Bytes Info() { return Read(simtest::ReadBuffer(2, 0xF1, 0, 48)); }
  // Sends an image as the update does: blocks of 0x8000 from offset 0, up to `upTo`.
  bool Send(uint8_t id, const Bytes& image, size_t upTo = SIZE_MAX) {
    for (size_t at = 0; at < std::min(upTo, image.size()); at += 0x8000) {
      const size_t n = std::min<size_t>(0x8000, image.size() - at);
      const auto cdb =
          simtest::WriteBuffer(7, id, static_cast<uint32_t>(at), static_cast<uint32_t>(n));
      if (!Good(Out(*this, cdb, Bytes(&image[at], &image[at] + n)))) return false;
    }
    return true;
  }
};
// Revision 1.22 of 2008/07/25 (in the long form) for hardware "HW  0103", normal model "KES_NRM ".
Bytes Image122(char part = 'N', const char* kernelModel = "KES_ADV ") {
  sim::RwImageSpec want;
  want.hwRevision = "HW  0103";
  want.kernelModel = kernelModel;
  want.normalModel = "KES_NRM ";
  want.part = part;
  return sim::BuildRwImage(want);
}

TEST(RwDrive, DataInNeverPassesTheHostsBuffer) {
  Rw drive;
  Bytes d;
  EXPECT_TRUE(Good(In(drive, Inquiry(96), 20, &d)));
  EXPECT_EQ(d.size(), 20u);
}

TEST(RwDrive, RefusesWhatItsModeDoesNotAllow) {
  const struct {
    const char* what;
    bool kernel;
    Bytes cdb;
    uint32_t length;  // data out for WRITE BUFFER, else room for data in
    sim::Sense sense;
  } cases[] = {
      {"unknown opcode", false, {0xBB, 0, 0, 0, 0, 0}, 0, sim::kInvalidOpcode},
      {"normal block", false, WriteBuffer(7, 0xF0, 0, 0x8000), 0x8000, sim::kSequenceError},
      {"kernel block", false, WriteBuffer(7, 0xFE, 0, 0x8000), 0x8000, sim::kSequenceError},
      {"short switch block", false, WriteBuffer(4, 0xFF, 0, 128), 128, sim::kParamListLength},
      {"region in kernel", true, {0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 0}, 8, sim::kInvalidOpcode},
      {"a disc in the kernel", true, {0, 0, 0, 0, 0, 0}, 0, sim::kNotReadyInitRequired},
      {"block after a gap", true, WriteBuffer(7, 0xF0, 0x8000, 0x8000), 0x8000, sim::kInvalidField},
      {"less than announced", true, WriteBuffer(7, 0xF0, 0, 0x8000), 0x100, sim::kParamListLength},
      {"past normal flash", true, WriteBuffer(7, 0xF0, 0, 0x800001), 0x800001, sim::kInvalidField},
      {"past kernel flash", true, WriteBuffer(7, 0xFE, 0, 0x20001), 0x20001, sim::kInvalidField},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::RwConfig config;
    config.disc = sim::Disc::Loaded;
    Rw drive(config);
    if (c.kernel) {
      ASSERT_TRUE(drive.ToKernel());
    }
    const sim::Dir dir = !c.length          ? sim::Dir::None
                         : c.cdb[0] == 0x3B ? sim::Dir::Out
                                            : sim::Dir::In;
    Bytes data(c.length);
    EXPECT_TRUE(Is(Exchange(drive, c.cdb, dir, &data, c.length), c.sense));
    EXPECT_EQ(drive.InKernel(), c.kernel);
    EXPECT_TRUE(drive.ReceivedNormal().empty());
  }
}

TEST(RwDrive, KernelRunsTheOldFirmwareAgainWithoutBlocksAndFlashesACompleteNormalPart) {
  sim::RwConfig config;
  config.dateForm = sim::DateForm::Full;  // how it reports the date of what it flashes
  Rw drive(config);
  EXPECT_TRUE(Good(drive.Switch(5))) << "already running the normal firmware";
  EXPECT_FALSE(drive.InKernel());
  ASSERT_TRUE(drive.ToKernel());
  EXPECT_TRUE(drive.ToKernel()) << "already in the kernel";
  EXPECT_EQ(Text(drive.Inq(), 32, 13), "0000 08/05/20");
  EXPECT_EQ(Text(drive.Info(), 24, 16), "KES_ADV         ") << "no normal model in the kernel";
  sim::Result back = drive.Switch(5);
  ASSERT_TRUE(Good(back));
  EXPECT_EQ(back.latencyMs, 2000u);
  EXPECT_EQ(Text(drive.Inq(), 32, 4), "1.21");
  EXPECT_EQ(Text(drive.Info(), 32, 8), "KES_ADV ");

  ASSERT_TRUE(drive.ToKernel());
  ASSERT_TRUE(drive.Send(0xF0, Image122()));
  back = drive.Switch(5);
  ASSERT_TRUE(Good(back));
  EXPECT_EQ(back.latencyMs, 8000u);
  EXPECT_EQ(Text(drive.Inq(), 32, 16), "1.22 2008/07/25 ");
  EXPECT_EQ(Text(drive.Info(), 16, 24), "HW  0103KES_ADV KES_NRM ");
  EXPECT_EQ(drive.Reflashes(), 1);
}

TEST(RwDrive, QuillKernelTakesAKeyWithoutCarryOnTheWayInOnly) {
  sim::RwConfig config;
  config.kernelModel = "QUILL   ";
  config.modeKeyBase = 0x5B7E2DFD;  // adding 5 carries out of the low byte
  Rw drive(config);
  EXPECT_TRUE(Is(drive.Switch(4, 0x5B7E2E02), sim::kInvalidParameter));
  ASSERT_TRUE(Good(drive.Switch(4, 0x5B7E2D02)));
  EXPECT_TRUE(Is(drive.Switch(5, 0x5B7E2D02), sim::kInvalidParameter));
  EXPECT_TRUE(Good(drive.Switch(5, 0x5B7E2E02)));
}

TEST(RwDrive, StrictDriveRefusesStaleReservedBytesThatOthersIgnore) {
  Bytes stale = SwitchBlock();
  stale[200] = 0x5A;
  Rw drive;
  EXPECT_TRUE(Good(Out(drive, WriteBuffer(4, 0xFF, 0, 256), stale)));
  sim::RwConfig config;
  config.strictReserved = true;
  Rw strict(config);
  EXPECT_TRUE(Is(Out(strict, WriteBuffer(4, 0xFF, 0, 256), stale), sim::kInvalidParameter));
  EXPECT_FALSE(strict.InKernel());
}

TEST(RwDrive, NormalPartThatCannotRunKeepsTheDriveInItsKernel) {
  const struct {
    const char* what;
    Bytes image;
    size_t sent;
    bool stuck;  // the drive's fault: it accepts the switch back but never leaves its kernel
  } cases[] = {
      {"short", Image122(), 0x1F8000, false},
      {"kernel letter", Image122('K'), SIZE_MAX, false},
      {"foreign kernel model", Image122('N', "OTHER   "), SIZE_MAX, false},
      {"complete, but the drive is stuck", Image122(), SIZE_MAX, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::RwConfig config;
    config.staysInKernel = c.stuck;
    Rw drive(config);
    ASSERT_TRUE(drive.ToKernel());
    ASSERT_TRUE(drive.Send(0xF0, c.image, c.sent));
    EXPECT_TRUE(Is(drive.Switch(5), c.stuck ? sim::kNoSense : sim::kSequenceError));
    EXPECT_TRUE(drive.InKernel());
    EXPECT_EQ(Text(drive.Inq(), 32, 4), "0000");
    EXPECT_EQ(drive.Reflashes(), 0);
  }
}

TEST(RwDrive, PowerLossSilencesTheDriveUntilItBootsWhatFlashHolds) {
  sim::RwConfig config;
  config.powerLossAfterBlocks = 3;
  Rw drive(config);
  const Bytes image = Image122();
  ASSERT_TRUE(drive.ToKernel());
  EXPECT_FALSE(drive.Send(0xF0, image, 0x20000)) << "the fourth block is never answered";
  EXPECT_TRUE(NoData(drive, {0, 0, 0, 0, 0, 0}).noResponse);
  EXPECT_FALSE(drive.Powered());

  drive.PowerCycle();
  EXPECT_TRUE(drive.InKernel()) << "the old firmware is gone";
  EXPECT_EQ(Text(drive.Inq(), 32, 4), "0000");
  EXPECT_EQ(drive.ReceivedNormal(), Bytes(image.begin(), image.begin() + 0x18000));
  EXPECT_TRUE(Is(drive.Switch(5), sim::kSequenceError));
  ASSERT_TRUE(drive.Send(0xF0, image)) << "the fault does not come back";
  drive.PowerCycle();
  EXPECT_FALSE(drive.InKernel());
  EXPECT_EQ(Text(drive.Inq(), 32, 4), "1.22");
}

}  // namespace
