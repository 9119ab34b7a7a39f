// Whole runs over virtual read-only drives, from the update mode on: the patch block and the
// marker in the last transfer, the countdown of the self-update on both Windows paths, the
// read-back after it, and failures along the way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/global.h"
#include "tests/rom_scenario.h"
#include "tests/support.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using namespace romtest;

namespace {

const char kNew[] = "\nNew Revision    >> KESTREL DVD-ROM QXD-516  1.08  2008/03/14";
const char kIntelKey[] = "HKLM\\SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver";

// A patch block whose every byte tells its offset.
Bytes PatchBlock() {
  Bytes block(0x1000);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<uint8_t>(0x40 + i * 7);
  return block;
}

// A drive at 1.06, which needs the patch file beside the program.
sim::RomDrive& AddPatchedDrive(RomScene& s, sim::RomConfig config = {}) {
  s.held.revision = "1.06";
  sim::RomDrive& drive = s.AddDrive(config);
  std::string hex = PatchHex(PatchBlock());
  s.m.WriteFile("G6PATCH.HEX", Bytes(hex.begin(), hex.end()));
  return drive;
}

TEST(RomPatch, PatchBlockTravelsAfterTheMarkerOfTheLastTransfer) {
  RomScene s(5);
  sim::RomDrive& drive = AddPatchedDrive(s);
  const Bytes old = drive.Rom();
  s.m.keepData = true;

  ASSERT_EQ(s.Run(), 0) << s.m.console;
  EXPECT_THAT(
      s.m.console,
      HasSubstr(test::En(17) + "\nCurrent Revision>> KESTREL DVD-ROM QXD-516  1.06  2007/11/02" +
                test::En(19) + test::En(17) + test::En(61)));
  // The marker takes the place of the block's first four bytes; the next twelve follow it.
  const Bytes block = PatchBlock();
  const Bytes after(block.begin() + 4, block.begin() + 16);
  EXPECT_EQ(drive.Marker(), "WIN ");
  EXPECT_EQ(drive.TrailerBytes(), after);
  EXPECT_EQ(drive.PatchBytes(), after);
  EXPECT_EQ(drive.Rom(), Flashed(s.Image(), old));

  std::vector<const sim::LogEntry*> blocks = s.m.Sent({0x3B, 0x01, 0xFF});
  ASSERT_EQ(blocks.size(), 5u);
  const Bytes& last = blocks.back()->data;
  ASSERT_EQ(last.size(), 0x1010u);
  const Bytes image = s.Image();
  EXPECT_EQ(Bytes(last.begin(), last.begin() + 0x1000), Bytes(image.end() - 0x1000, image.end()));
  EXPECT_EQ(std::string(last.begin() + 0x1000, last.begin() + 0x1004), "WIN ");
}

TEST(RomPatch, MissingPatchFileEndsTheRun) {
  RomScene s(5);
  s.held.revision = "1.06";
  sim::RomDrive& drive = s.AddDrive();
  EXPECT_EQ(s.Run(), 1);
  EXPECT_THAT(s.m.console, HasSubstr(test::En(21) + test::En(36)));
  EXPECT_EQ(drive.SelfUpdates(), 0);
}

TEST(RomPatch, OtherRevisionsSendWhatFollowsTheImageInTheBuffer) {
  // Without a patch the twelve bytes are whatever the image buffer holds there: zero after
  // start-up.
  RomScene s(5);
  sim::RomDrive& drive = s.AddDrive();
  ASSERT_EQ(s.Run(), 0);
  EXPECT_THAT(s.m.console, Not(HasSubstr(test::En(19))));
  EXPECT_EQ(drive.TrailerBytes(), Bytes(12, 0));
  EXPECT_TRUE(drive.PatchBytes().empty());
}

// The marker the drive is told the host side by.
struct MarkerCase {
  const char* name;
  bool aspi;
  const char* adapter;  // ASPI host adapter
  bool intelKey;        // the Intel driver's key, as the pass-through path finds it
  bool patched;
  const char* marker;
};

void PrintTo(const MarkerCase& c, std::ostream* os) {
  *os << c.name;
}

class RomMarker : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(RomMarker, FollowsTheIntelDriverThePatchAndThePath) {
  const MarkerCase& c = GetParam();
  RomScene s(5);
  if (c.aspi) s.rig.Windows98(c.adapter);
  if (c.intelKey) s.m.registry[kIntelKey];
  sim::RomDrive& drive = c.patched ? AddPatchedDrive(s) : s.AddDrive();
  ASSERT_EQ(s.Run(), 0) << s.m.console;
  EXPECT_EQ(gIf, c.aspi ? 1 : 0);
  EXPECT_EQ(gIntel, c.intelKey || std::string(c.adapter) == "intelata" ? 1 : 0);
  EXPECT_EQ(drive.Marker(), c.marker);
  EXPECT_EQ(drive.SelfUpdates(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RomMarker,
    ::testing::Values(MarkerCase{"PassThrough", false, "", false, false, "WIN "},
                      MarkerCase{"PassThroughPatched", false, "", false, true, "WIN "},
                      MarkerCase{"PassThroughIntelPatched", false, "", true, true, "WIN2"},
                      MarkerCase{"Aspi", true, "ESDI_506", false, false, "WIN2"},
                      MarkerCase{"AspiPatched", true, "ESDI_506", false, true, "WIN "},
                      MarkerCase{"AspiIntel", true, "intelata", false, false, "WIN2"},
                      MarkerCase{"AspiIntelPatched", true, "intelata", false, true, "WIN2"}),
    [](const ::testing::TestParamInfo<MarkerCase>& info) { return std::string(info.param.name); });

// The countdown lines from `from` seconds down to `to`, as two-digit texts.
std::vector<std::string> Seconds(int from, int to) {
  std::vector<std::string> out;
  for (int n = from; n >= to; --n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    out.push_back(text);
  }
  return out;
}

TEST(RomCountdown, AspiPathLeavesTheUpdateRunningAndCountsAFullHalfMinute) {
  // Model code 9 allows its self-update 10 s, model code 5 no limit: on this path both count
  // 30 s while the command runs on, and the next command waits for the end of the countdown.
  for (int32_t code : {5, 9}) {
    RomScene s(code);
    s.fwVer = 0x108;  // the definition that this path accepts for model code 9
    s.rig.Windows98();
    sim::RomConfig config;
    config.latency.selfUpdate = 20000;
    sim::RomDrive& drive = s.AddDrive(config);

    ASSERT_EQ(s.Run(), 0) << code << s.m.console;
    EXPECT_THAT(s.m.console, HasSubstr(test::En(61) + "\n\rRemaining time is 29sec"));
    EXPECT_THAT(Countdown(s.m.console), ElementsAreArray(Seconds(29, 0))) << code;
    EXPECT_THAT(s.m.console, HasSubstr("\rRemaining time is 00sec" + std::string(kNew)));
    EXPECT_EQ(drive.SelfUpdates(), 1);

    // The update command, and the first command after it: the countdown, then 2 s of settling.
    size_t at = 0;
    while (at < s.m.log.size() && Describe(s.m.log[at]) != "flash")
      ++at;
    ASSERT_LT(at + 1, s.m.log.size());
    EXPECT_EQ(s.m.log[at + 1].time - s.m.log[at].time, 32000u) << code;
    EXPECT_EQ(gNoWait, 0);
    EXPECT_EQ(s.m.aspiOverlaps, 0);
    EXPECT_EQ(s.m.aspiAborts, 0) << "the update had ended when the countdown did";
  }
}

// The countdown on the pass-through path starts when the update command has returned.
struct PtCountdown {
  int32_t model;
  uint32_t selfUpdate;
  std::vector<std::string> lines;
};

void PrintTo(const PtCountdown& c, std::ostream* os) {
  *os << "model code " << c.model << ", self-update " << c.selfUpdate << " ms";
}

class RomPtCountdown : public ::testing::TestWithParam<PtCountdown> {};

TEST_P(RomPtCountdown, CountsWhatIsLeftOfTheLimitAndAtLeastOnce) {
  const PtCountdown& c = GetParam();
  RomScene s(c.model);
  sim::RomConfig config;
  config.latency.selfUpdate = c.selfUpdate;
  sim::RomDrive& drive = s.AddDrive(config);
  ASSERT_EQ(s.Run(), 0) << s.m.console;
  EXPECT_THAT(Countdown(s.m.console), ElementsAreArray(c.lines));
  EXPECT_THAT(s.m.console, HasSubstr(test::En(61) + "\n\rRemaining time is " + c.lines[0]));
  EXPECT_EQ(drive.SelfUpdates(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, RomPtCountdown,
    ::testing::Values(PtCountdown{5, 25000, Seconds(4, 0)},
                      // An update that took the whole limit, or nearly, still shows one line.
                      PtCountdown{5, 29500, {"00"}}, PtCountdown{5, 30000, {"-1"}},
                      PtCountdown{9, 8000, {"01", "00"}}, PtCountdown{11, 10000, {"-1"}}),
    [](const ::testing::TestParamInfo<PtCountdown>& info) {
      return "Code" + std::to_string(info.param.model) + "Takes" +
             std::to_string(info.param.selfUpdate);
    });

TEST(RomCountdown, SelfUpdateBeyondItsLimitFailsThatDriveOnly) {
  // Model code 9 gives its self-update 10 s: one that takes 25 s is given up. That is a failed
  // command, not a fatal error: the run goes on.
  RomScene s(9);
  s.AddDrive();
  EXPECT_EQ(s.Run(), 0);
  EXPECT_THAT(s.m.console, HasSubstr(test::En(61) + test::En(24)));
  EXPECT_THAT(Countdown(s.m.console), IsEmpty());
  EXPECT_THAT(s.m.console, Not(HasSubstr(test::En(12))));
  std::vector<const sim::LogEntry*> flash = s.m.Sent({0x3B, 0x01, 0x42});
  ASSERT_EQ(flash.size(), 1u);
  EXPECT_EQ(flash[0]->timeoutMs, 10000u);
  EXPECT_TRUE(flash[0]->timedOut);
  EXPECT_THAT(s.m.boxes, IsEmpty()) << "no summary when nothing was updated";
}

TEST(RomReadBack, RomThatDiffersAfterTheUpdateIsAVerifyError) {
  // One wrong byte in each region the comparison tells apart; the drive's own bytes are not
  // compared.
  for (uint32_t bad : {0x10u, 0x450u, 0x7FFFu, 0x1FFFFu}) {
    RomScene s(5);
    sim::RomConfig config;
    config.badFlash = {bad};
    sim::RomDrive& drive = s.AddDrive(config);
    EXPECT_EQ(s.Run(), 0) << bad;
    EXPECT_THAT(s.m.console, HasSubstr("\rRemaining time is 00sec" + test::En(25))) << bad;
    EXPECT_THAT(s.m.console, Not(HasSubstr(kNew)));
    EXPECT_THAT(s.m.console, Not(HasSubstr(test::En(12))));
    EXPECT_EQ(drive.SelfUpdates(), 1);
    EXPECT_EQ(Only(Trace(s.m), "rom").size(), 9u) << "read back in full";
  }
  for (uint32_t own : {0x400u, 0x44Fu}) {
    RomScene s(5);
    sim::RomConfig config;
    config.badFlash = {own};
    s.AddDrive(config);
    EXPECT_EQ(s.Run(), 0);
    EXPECT_THAT(s.m.console, HasSubstr(kNew + test::En(12))) << own;
  }
}

TEST(RomReadBack, FailedReadBackIsAVerifyError) {
  RomScene s(5);
  s.AddDrive();
  sim::Fault f;
  f.cdb = {0x3C, 0x01, 0x80, 0x01, 0x00, 0x00};  // the read at 0x10000
  f.nth = 2;                                     // after the update
  f.sense = {0x03, 0x11, 0x00};
  s.m.faults.push_back(f);
  EXPECT_EQ(s.Run(), 0);
  EXPECT_THAT(s.m.console, HasSubstr("\rRemaining time is 00sec" + test::En(25)));
  EXPECT_EQ(Only(Trace(s.m), "rom").back(), "rom 010000+8000") << "the read stops at the fault";
}

TEST(RomReadBack, CodesWithoutReadBackTakeTheNewRevisionAsIs) {
  RomScene s(12);
  sim::RomConfig config;
  config.badFlash = {0x10};
  s.AddDrive(config);
  EXPECT_EQ(s.Run(), 0);
  EXPECT_THAT(s.m.console, HasSubstr(kNew + test::En(12)));
}

TEST(RomTransferFailure, FailedBlockShowsItsSenseAndEndsTheRun) {
  // The same on both paths: the sense comes with the failed command.
  for (bool aspi : {false, true}) {
    RomScene s(5);
    if (aspi) s.rig.Windows98();
    sim::RomDrive& drive = s.AddDrive();
    sim::Fault f;
    f.cdb = {0x3B, 0x01, 0xFF};
    f.nth = 3;
    f.sense = {0x03, 0x0C, 0x00};
    s.m.faults.push_back(f);
    EXPECT_EQ(s.Run(), 1);
    EXPECT_THAT(s.m.console,
                HasSubstr(test::En(61) + "\nSense Code : 03-0c-00" + test::En(23) + test::En(36)))
        << aspi;
    EXPECT_THAT(Only(Trace(s.m), "block"),
                ElementsAre("block 000000+8000", "block 008000+8000", "block 010000+8000"));
    EXPECT_THAT(Only(Trace(s.m), "flash"), IsEmpty());
    EXPECT_EQ(drive.SelfUpdates(), 0);
  }
}

TEST(RomTransferFailure, LastBlockTimingOutShowsTheTransportsOwnSense) {
  RomScene s(5);
  s.AddDrive();
  sim::Fault f;
  f.kind = sim::Fault::Kind::Timeout;
  f.cdb = {0x3B, 0x01, 0xFF, 0x01, 0xF0, 0x00};
  s.m.faults.push_back(f);
  EXPECT_EQ(s.Run(), 1);
  EXPECT_THAT(s.m.console, HasSubstr("\nSense Code : 0b-08-00" + test::En(23) + test::En(36)));
}

TEST(RomTransferFailure, UpdateModeRefusedSkipsTheDriveUntilTheTransferEntersItAgain) {
  // Refused when the update begins: the command's own result, so the run goes on.
  RomScene first(5);
  sim::RomDrive& a = first.AddDrive();
  sim::Fault f;
  f.cdb = {0x3B, 0x01, 0x30};
  f.nth = 1;
  f.sense = {0x05, 0x26, 0x00};
  first.m.faults.push_back(f);
  EXPECT_EQ(first.Run(), 0);
  EXPECT_THAT(first.m.console, HasSubstr(test::En(61) + test::En(22)));
  EXPECT_THAT(Only(Trace(first.m), "stop"), IsEmpty());
  EXPECT_EQ(a.SelfUpdates(), 0);

  // Refused when the transfer enters it again: reported with its sense, and the run ends.
  RomScene second(5);
  sim::RomDrive& b = second.AddDrive();
  f.nth = 2;
  second.m.faults.push_back(f);
  EXPECT_EQ(second.Run(), 1);
  EXPECT_THAT(second.m.console,
              HasSubstr(test::En(61) + "\nSense Code : 05-26-00" + test::En(23) + test::En(36)));
  EXPECT_THAT(Only(Trace(second.m), "block"), IsEmpty());
  EXPECT_EQ(b.SelfUpdates(), 0);
}

TEST(RomTransferFailure, RefusedSelfUpdateSkipsTheDrive) {
  RomScene s(5);
  sim::RomDrive& first = s.AddDrive();
  sim::RomDrive& second = s.AddDrive();
  sim::Fault f;
  f.slot = 0;
  f.cdb = {0x3B, 0x01, 0x42};
  f.sense = {0x05, 0x26, 0x00};
  s.m.faults.push_back(f);
  EXPECT_EQ(s.Run(), 0);
  EXPECT_THAT(s.m.console, HasSubstr(test::En(61) + test::En(24)));
  EXPECT_EQ(first.SelfUpdates(), 0);
  EXPECT_EQ(second.SelfUpdates(), 1);
  EXPECT_THAT(s.m.console, HasSubstr("\r\n1drive(s) have been updated successfully."));
}

TEST(RomTransferFailure, DiscStopFailureIsNoReasonToStop) {
  RomScene s(5);
  sim::RomDrive& drive = s.AddDrive();
  sim::Fault f;
  f.cdb = {0x1B};
  f.sense = {0x02, 0x04, 0x00};
  s.m.faults.push_back(f);
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(drive.SelfUpdates(), 1);
}

}  // namespace
