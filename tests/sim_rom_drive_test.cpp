// The virtual read-only drive at the command level: ROM reads and their end, the update mode and
// its refusals, and the self-update that keeps the drive's own bytes.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/rom_drive.h"
#include "tests/sim_cdb.h"

using namespace simtest;

namespace {

constexpr uint32_t kRom = 0x20000;

// A drive with the exchanges these tests repeat.
struct RoDrive : sim::RomDrive {
  using sim::RomDrive::RomDrive;
  bool EnterUpdate() { return Good(NoData(*this, simtest::WriteBuffer(1, 0x30, 0, 0))); }
  sim::Result SelfUpdate() { return NoData(*this, simtest::WriteBuffer(1, 0x42, 0, 0)); }
  // One 0x8000-byte block of `image` into the update buffer.
  sim::Result Block(const Bytes& image, uint32_t at) {
    return Out(*this, simtest::WriteBuffer(1, 0xFF, at, 0x8000),
               Bytes(&image[at], &image[at] + 0x8000));
  }
  // The final block: the image's last 4 KiB, the marker and 12 zero bytes.
  sim::Result Seal(const Bytes& image, const char* marker) {
    Bytes last(image.end() - 0x1000, image.end());
    last.insert(last.end(), marker, marker + 4);
    last.resize(0x1010);
    return Out(*this, simtest::WriteBuffer(1, 0xFF, kRom - 0x1000, 0x1010), last);
  }
  Bytes ReadRom(uint32_t address, uint32_t length) {
    Bytes data;
    EXPECT_TRUE(Good(In(*this, simtest::ReadBuffer(1, 0x80, address, length), length, &data)));
    return data;
  }
};

TEST(RomDrive, RomReadsStopAtItsEnd) {
  RoDrive drive;
  EXPECT_EQ(drive.ReadRom(kRom - 0x8000, 0x8000),
            Bytes(drive.Rom().end() - 0x8000, drive.Rom().end()));
  Bytes d;
  EXPECT_TRUE(Is(In(drive, ReadBuffer(1, 0x80, kRom - 0x10, 0x20), 0x20, &d), sim::kOutOfRange));
  EXPECT_TRUE(d.empty());
  EXPECT_TRUE(Is(In(drive, ReadBuffer(1, 0x80, kRom, 1), 1, &d), sim::kOutOfRange));
  EXPECT_TRUE(Is(In(drive, ReadBuffer(2, 0xF1, 0, 48), 48, &d), sim::kInvalidField));
}

TEST(RomDrive, SelfUpdateNeedsTheUpdateModeAndASealedBufferAndKeepsTheDrivesOwnBytes) {
  RoDrive drive;
  sim::RomImageSpec want;
  want.revision = "1.08";
  want.date = "2008/03/14";
  want.seed = 99;
  const Bytes image = sim::BuildRomImage(want);
  EXPECT_TRUE(Is(drive.Block(image, 0), sim::kSequenceError));
  EXPECT_TRUE(Is(drive.SelfUpdate(), sim::kSequenceError));
  ASSERT_TRUE(drive.EnterUpdate());
  EXPECT_TRUE(Is(Out(drive, WriteBuffer(1, 0xFF, kRom, 0x11), Bytes(0x11)), sim::kInvalidField))
      << "past the trailer";
  EXPECT_TRUE(Is(drive.SelfUpdate(), sim::kInvalidParameter)) << "nothing sealed";
  ASSERT_TRUE(Good(drive.Seal(image, "WIN2")));
  ASSERT_TRUE(drive.EnterUpdate());
  EXPECT_TRUE(Is(drive.SelfUpdate(), sim::kInvalidParameter)) << "entering again starts over";

  // The first block and the final one: the rest stays erased, and the drive keeps its own bytes.
  Bytes expected = image;
  std::fill(expected.begin() + 0x8000, expected.end() - 0x1000, 0xFF);
  for (uint32_t at = 0x400; at < 0x450; ++at)
    expected[at] = drive.Rom()[at];
  ASSERT_TRUE(Good(drive.Block(image, 0)));
  ASSERT_TRUE(Good(drive.Seal(image, "WIN2")));
  EXPECT_EQ(drive.Revision(), "1.05") << "nothing flashed before the self-update";
  const sim::Result r = drive.SelfUpdate();
  ASSERT_TRUE(Good(r));
  EXPECT_EQ(r.latencyMs, 25000u);
  EXPECT_FALSE(drive.InUpdateMode());
  Bytes d;
  ASSERT_TRUE(Good(In(drive, Inquiry(), 96, &d)));
  EXPECT_EQ(Text(d, 32, 15), "1.08 2008/03/14");
  EXPECT_EQ(drive.ReadRom(0, kRom), expected);
}

}  // namespace
