// The virtual read-only drive at the command level: identity from its ROM, ROM reads, the update
// mode, the image blocks with their trailer, the self-update and the patch rule.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/rom_drive.h"
#include "tests/sim_cdb.h"

using namespace simtest;

namespace {

constexpr uint32_t kRom = 0x20000;

sim::RomConfig WithRom(const sim::RomImageSpec& spec) {
  sim::RomConfig config;
  config.place = spec.place;
  config.rom = sim::BuildRomImage(spec);
  return config;
}

bool EnterUpdate(sim::RomDrive& d) {
  return Good(NoData(d, WriteBuffer(1, 0x30, 0, 0)));
}

// The transfer the update makes: 0x8000-byte blocks, then the last 4 KiB again with the marker
// and the 12 bytes after it.
bool Transfer(sim::RomDrive& d, const Bytes& image, const char* marker, const Bytes& after12) {
  for (uint32_t at = 0; at == 0 || at < kRom - 0x1000; at += 0x8000) {
    Bytes block(image.begin() + at, image.begin() + at + 0x8000);
    if (!Good(Out(d, WriteBuffer(1, 0xFF, at, 0x8000), block))) return false;
  }
  Bytes last(0x1010);
  std::copy(image.begin() + kRom - 0x1000, image.begin() + kRom, last.begin());
  std::copy(marker, marker + 4, last.begin() + 0x1000);
  std::copy(after12.begin(), after12.end(), last.begin() + 0x1004);
  return Good(Out(d, WriteBuffer(1, 0xFF, kRom - 0x1000, 0x1010), last));
}

Bytes ReadRom(sim::RomDrive& d, uint32_t address, uint32_t length) {
  Bytes data;
  EXPECT_TRUE(Good(In(d, ReadBuffer(1, 0x80, address, length), length, &data)));
  return data;
}

TEST(RomDrive, InquiryTakesRevisionAndDateFromTheRom) {
  sim::RomDrive drive;
  Bytes d;
  ASSERT_TRUE(Good(In(drive, Inquiry(), 96, &d)));
  EXPECT_EQ(d[0], 5);
  EXPECT_EQ(Text(d, 8, 24), "KESTREL DVD-ROM QXD-516 ");
  EXPECT_EQ(Text(d, 32, 5), "1.05 ");
  EXPECT_EQ(Text(d, 37, 10), "2007/11/02");
  EXPECT_EQ(drive.Revision(), "1.05");
}

TEST(RomDrive, RomReadsReturnTheRomAndStopAtItsEnd) {
  sim::RomImageSpec spec;
  spec.place = sim::RomPlace::At1C010;
  sim::RomDrive drive(WithRom(spec));
  const Bytes rom = sim::BuildRomImage(spec);
  EXPECT_EQ(ReadRom(drive, 0x1C000, 0x40), Bytes(rom.begin() + 0x1C000, rom.begin() + 0x1C040));
  EXPECT_EQ(Text(ReadRom(drive, 0x1C010, 16), 0, 16), "KESTREL QXD-516 ");
  EXPECT_EQ(ReadRom(drive, kRom - 0x8000, 0x8000), Bytes(rom.end() - 0x8000, rom.end()));

  Bytes d;
  EXPECT_TRUE(
      Checked(In(drive, ReadBuffer(1, 0x80, kRom - 0x10, 0x20), 0x20, &d), sim::kOutOfRange));
  EXPECT_TRUE(Checked(In(drive, ReadBuffer(1, 0x80, kRom, 1), 1, &d), sim::kOutOfRange));
  EXPECT_TRUE(Checked(In(drive, ReadBuffer(2, 0xF1, 0, 48), 48, &d), sim::kInvalidField));
}

TEST(RomDrive, BlocksAndSelfUpdateNeedTheUpdateMode) {
  sim::RomDrive drive;
  EXPECT_TRUE(Checked(Out(drive, WriteBuffer(1, 0xFF, 0, 0x10), Bytes(0x10)), sim::kSequenceError));
  EXPECT_TRUE(Checked(NoData(drive, WriteBuffer(1, 0x42, 0, 0)), sim::kSequenceError));
  ASSERT_TRUE(EnterUpdate(drive));
  EXPECT_TRUE(drive.InUpdateMode());
  EXPECT_TRUE(
      Checked(Out(drive, WriteBuffer(1, 0xFF, kRom, 0x11), Bytes(0x11)), sim::kInvalidField))
      << "past the trailer";
  EXPECT_TRUE(Checked(NoData(drive, WriteBuffer(1, 0x42, 0, 0)), sim::kInvalidParameter))
      << "nothing sealed by a final block";
  EXPECT_EQ(drive.SelfUpdates(), 0);
}

TEST(RomDrive, SelfUpdateMakesTheImageTheRomButKeepsTheDrivesOwnBytes) {
  sim::RomDrive drive;
  const Bytes old = drive.Rom();
  sim::RomImageSpec spec;
  spec.revision = "1.08";
  spec.date = "2008/03/14";
  spec.seed = 99;
  const Bytes image = sim::BuildRomImage(spec);
  const Bytes after12 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

  ASSERT_TRUE(EnterUpdate(drive));
  ASSERT_TRUE(Transfer(drive, image, "WIN2", after12));
  EXPECT_EQ(drive.Marker(), "WIN2");
  EXPECT_EQ(drive.TrailerBytes(), after12);
  EXPECT_EQ(drive.Revision(), "1.05") << "nothing flashed before the self-update";

  sim::Result r = NoData(drive, WriteBuffer(1, 0x42, 0, 0));
  ASSERT_TRUE(Good(r));
  EXPECT_EQ(r.latencyMs, 25000u);
  EXPECT_FALSE(drive.InUpdateMode());
  Bytes d;
  ASSERT_TRUE(Good(In(drive, Inquiry(), 96, &d)));
  EXPECT_EQ(Text(d, 32, 4), "1.08");
  EXPECT_EQ(Text(d, 37, 10), "2008/03/14");

  Bytes back;
  for (uint32_t at = 0; at < kRom; at += 0x8000) {
    Bytes part = ReadRom(drive, at, 0x8000);
    back.insert(back.end(), part.begin(), part.end());
  }
  ASSERT_EQ(back.size(), image.size());
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 0x400), Bytes(image.begin(), image.begin() + 0x400));
  EXPECT_EQ(Bytes(back.begin() + 0x400, back.begin() + 0x450),
            Bytes(old.begin() + 0x400, old.begin() + 0x450));
  EXPECT_EQ(Bytes(back.begin() + 0x450, back.end()), Bytes(image.begin() + 0x450, image.end()));
  EXPECT_TRUE(drive.PatchBytes().empty()) << "only a 1.06 drive takes patch bytes";
}

TEST(RomDrive, UnsentBlocksAreErasedFlash) {
  sim::RomDrive drive;
  ASSERT_TRUE(EnterUpdate(drive));
  const Bytes image = sim::BuildRomImage(sim::RomImageSpec{});
  Bytes last(0x1010);
  std::copy(image.end() - 0x1000, image.end(), last.begin());
  std::copy_n("WIN ", 4, last.begin() + 0x1000);
  ASSERT_TRUE(Good(Out(drive, WriteBuffer(1, 0xFF, kRom - 0x1000, 0x1010), last)));
  ASSERT_TRUE(Good(NoData(drive, WriteBuffer(1, 0x42, 0, 0))));
  EXPECT_EQ(ReadRom(drive, 0x8000, 16), Bytes(16, 0xFF));
}

TEST(RomDrive, DriveAt106TakesThePatchBytesAfterTheMarker) {
  sim::RomImageSpec at106;
  at106.revision = "1.06";
  sim::RomDrive drive(WithRom(at106));
  const Bytes patch = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB};
  ASSERT_TRUE(EnterUpdate(drive));
  ASSERT_TRUE(Transfer(drive, sim::BuildRomImage(sim::RomImageSpec{}), "WIN ", patch));
  EXPECT_EQ(drive.Marker(), "WIN ");
  ASSERT_TRUE(Good(NoData(drive, WriteBuffer(1, 0x42, 0, 0))));
  EXPECT_EQ(drive.PatchBytes(), patch);
  EXPECT_EQ(drive.Revision(), "1.05");
}

TEST(RomDrive, EnteringTheUpdateModeAgainStartsOver) {
  sim::RomDrive drive;
  ASSERT_TRUE(EnterUpdate(drive));
  ASSERT_TRUE(Transfer(drive, sim::BuildRomImage(sim::RomImageSpec{}), "WIN ", Bytes(12)));
  ASSERT_TRUE(EnterUpdate(drive));
  EXPECT_EQ(drive.Marker(), "");
  EXPECT_TRUE(Checked(NoData(drive, WriteBuffer(1, 0x42, 0, 0)), sim::kInvalidParameter));
}

}  // namespace
