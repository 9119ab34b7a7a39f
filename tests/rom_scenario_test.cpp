// Whole runs over virtual read-only drives: the update of each model code, the identification
// from the ROM, the drives left alone because they are up to date, and the refusals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/global.h"
#include "tests/rom_scenario.h"
#include "tests/support.h"
#include "update/dvdrom.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using namespace romtest;

namespace {

const char kBanner[] = "\n/// ODD Firmware Update Utility Ver2.57C\n";
const char kCurrent[] = "\nCurrent Revision>> KESTREL DVD-ROM QXD-516  1.05  2007/11/02";
const char kNew[] = "\nNew Revision    >> KESTREL DVD-ROM QXD-516  1.08  2008/03/14";

// Message 34 as it reads for the n-th drive.
std::string Start(int n) {
  return "\r\nStart updating the device No." + std::to_string(n) + ".";
}

std::string Text(const char* p, size_t n) {
  return std::string(p, n);
}

TEST(RomUpdate, FullRunOfAModelWithReadBackVerify) {
  RomScene s(5);
  sim::RomDrive& drive = s.AddDrive();
  const Bytes old = drive.Rom();

  ASSERT_EQ(s.Run(), 0);

  EXPECT_EQ(s.m.console, kBanner + Start(1) + test::En(17) + kCurrent + test::En(17) +
                             test::En(61) +
                             "\n\rRemaining time is 04sec\rRemaining time is 03sec"
                             "\rRemaining time is 02sec\rRemaining time is 01sec"
                             "\rRemaining time is 00sec" +
                             kNew + test::En(12) + test::En(35));
  ASSERT_EQ(s.m.boxes.size(), 1u);
  EXPECT_EQ(s.m.boxes[0].text, test::En(35));

  // Enumeration, identification, the ROM compared before, the update mode (entered again by the
  // transfer), four blocks and the last 4 KiB with the trailer, the self-update, the ROM compared
  // after, and the new revision.
  EXPECT_THAT(Trace(s.m),
              ElementsAre("inquiry", "read-buffer 2/F1", "inquiry", "rom 001000+40", "inquiry",
                          "rom 000000+8000", "rom 008000+8000", "rom 010000+8000",
                          "rom 018000+8000", "enter", "stop", "enter", "block 000000+8000",
                          "block 008000+8000", "block 010000+8000", "block 018000+8000",
                          "block 01F000+1010", "flash", "rom 000000+8000", "rom 008000+8000",
                          "rom 010000+8000", "rom 018000+8000", "inquiry"));
  std::vector<const sim::LogEntry*> flash = s.m.Sent({0x3B, 0x01, 0x42});
  ASSERT_EQ(flash.size(), 1u);
  EXPECT_EQ(flash[0]->timeoutMs, 30000u);
  EXPECT_EQ(s.m.Sent({0x3B, 0x01, 0x30})[0]->timeoutMs, 1000u);
  EXPECT_EQ(s.m.Sent({0x3C, 0x01, 0x80})[0]->timeoutMs, 5000u);

  EXPECT_EQ(drive.SelfUpdates(), 1);
  EXPECT_EQ(drive.Marker(), "WIN ");
  EXPECT_EQ(drive.Rom(), Flashed(s.Image(), old));
  EXPECT_EQ(drive.Revision(), "1.08");
  EXPECT_EQ(gFwVer, 0x108);
}

// What one model code changes in the run: where the identity is found, whether the ROM is read
// back, and how long the self-update may take.
struct ModelCase {
  int32_t model;
  std::vector<std::string> identification;
  bool verify;
  uint32_t updateLimit;
  const char* romModel;
  const char* romCpu;
};

void PrintTo(const ModelCase& c, std::ostream* os) {
  *os << "model code " << c.model;
}

class RomModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(RomModel, UpdatesFromTheImageWithTheRulesOfItsCode) {
  const ModelCase& c = GetParam();
  RomScene s(c.model);
  sim::RomConfig config;
  config.latency.selfUpdate = 8000;  // within the shortest limit
  sim::RomDrive& drive = s.AddDrive(config);
  const Bytes old = drive.Rom();

  ASSERT_EQ(s.Run(), 0) << s.m.console;
  EXPECT_THAT(s.m.console, HasSubstr(test::En(61)));
  EXPECT_THAT(s.m.console, HasSubstr(kNew + test::En(12)));
  EXPECT_EQ(drive.Rom(), Flashed(s.Image(), old));
  EXPECT_EQ(Text(gRomModel, 16), c.romModel);
  EXPECT_EQ(Text(gRomCpu, 16), Text(c.romCpu, 16));

  std::vector<std::string> reads = c.identification;
  if (c.verify) {
    for (int pass = 0; pass < 2; ++pass)
      for (const char* r :
           {"rom 000000+8000", "rom 008000+8000", "rom 010000+8000", "rom 018000+8000"})
        reads.push_back(r);
  }
  EXPECT_THAT(Only(Trace(s.m), "rom"), ElementsAreArray(reads));
  std::vector<const sim::LogEntry*> flash = s.m.Sent({0x3B, 0x01, 0x42});
  ASSERT_EQ(flash.size(), 1u);
  EXPECT_EQ(flash[0]->timeoutMs, c.updateLimit);
  // The countdown runs to the limit from the start of the self-update.
  EXPECT_EQ(Countdown(s.m.console).back(), "00");
}

const char kIdCpu[] = "MCU-R8032 CORE  ";
const char kNamedCpu[] = "KCP-7710\0\0\0\0\0\0\0\0";

INSTANTIATE_TEST_SUITE_P(
    Codes, RomModel,
    ::testing::Values(
        ModelCase{0, {"rom 001000+40"}, true, 30000, "KESTREL QXD-516 ", kNamedCpu},
        ModelCase{7, {"rom 001000+40"}, true, 30000, "KESTREL QXD-516 ", kNamedCpu},
        // The name at 0x1010 is found in the first read, at its offset 16.
        ModelCase{8, {"rom 001000+40"}, false, 30000, "KESTREL QXD-516 ", kNamedCpu},
        ModelCase{9,
                  {"rom 001000+40", "rom 01C000+40", "rom 01F000+20"},
                  false,
                  10000,
                  "QXD-516 ROM-A   ",
                  kIdCpu},
        ModelCase{
            10, {"rom 001000+40", "rom 01C000+40"}, false, 30000, "KESTREL QXD-516 ", kNamedCpu},
        ModelCase{11,
                  {"rom 001000+40", "rom 01C000+40", "rom 01F000+20"},
                  false,
                  10000,
                  "QXD-516 ROM-B   ",
                  kIdCpu},
        ModelCase{12, {"rom 001000+40"}, false, 30000, "KESTREL QXD-516 ", kNamedCpu},
        ModelCase{0x30, {"rom 001000+40"}, false, 30000, "KESTREL QXD-516 ", kNamedCpu}),
    [](const ::testing::TestParamInfo<ModelCase>& info) {
      return "Code" + std::to_string(info.param.model);
    });

TEST(RomIdentity, PatternsStandForThePlainIdentitiesTheDrivesCarry) {
  auto bytes = [](const char* text) { return reinterpret_cast<const uint8_t*>(text); };
  EXPECT_TRUE(RomIdIs(bytes(sim::kRomIdCpuText), gRomIdCpu));
  EXPECT_TRUE(RomIdIs(bytes(sim::kRomIdModelAText), gRomIdModelA));
  EXPECT_TRUE(RomIdIs(bytes(sim::kRomIdModelBText), gRomIdModelB));
  EXPECT_TRUE(RomIdIs(bytes(sim::kRomIdModelCText), gRomIdModelC));
  EXPECT_FALSE(RomIdIs(bytes(sim::kRomIdModelAText), gRomIdModelB));
  EXPECT_FALSE(RomIdIs(bytes(sim::kRomIdModelCText), gRomIdCpu));
  EXPECT_FALSE(RomIdIs(bytes("QXD-516 ROM-A  !"), gRomIdModelA)) << "the last byte counts";
}

TEST(RomIdentity, NoIdentityAnywhereSkipsTheDriveWithTheLastErrorCode) {
  RomScene s(9);
  s.held.model = "KESTREL QXD-516 ";  // at 0x1F000, where only the patterns count
  s.AddDrive();
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(Text(gRomModel, 16), "Not recognize   ");
  EXPECT_EQ(Text(gRomCpu, 16), "Not recognize   ");
  // The last failed command was the enumeration's drive information read, which a read-only drive
  // refuses: its code is what there is to show.
  EXPECT_EQ(s.m.console, kBanner + Start(1) + "\r\nError Code : 052400" + test::En(0));
  ASSERT_EQ(s.m.boxes.size(), 1u);
  EXPECT_EQ(s.m.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
  EXPECT_THAT(Trace(s.m), ElementsAre("inquiry", "read-buffer 2/F1", "inquiry", "rom 001000+40",
                                      "rom 01C000+40", "rom 01F000+20"));
}

TEST(RomIdentity, FailedRomReadPrintsItsErrorCodeAndSkipsTheDrive) {
  RomScene s(10);
  s.AddDrive();
  sim::Fault f;
  f.cdb = {0x3C, 0x01, 0x80};
  f.nth = 2;  // the read at 0x1C000
  f.sense = {0x04, 0x44, 0x00};
  s.m.faults.push_back(f);
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(s.m.console, kBanner + Start(1) + "\r\nError Code : 044400" + test::En(0));
  EXPECT_THAT(Only(Trace(s.m), "rom"), ElementsAre("rom 001000+40", "rom 01C000+40"));
}

TEST(RomIdentity, FailedInquiryOfOneDriveSkipsItWithoutTouchingIt) {
  // The second drive's INQUIRY times out: it is skipped, not updated with what the first drive
  // left behind.
  RomScene s(5);
  sim::RomDrive& first = s.AddDrive();
  sim::RomDrive& second = s.AddDrive();
  sim::Fault f;
  f.kind = sim::Fault::Kind::Timeout;
  f.slot = 1;
  f.cdb = {0x12};
  f.nth = 2;  // the first after enumeration
  s.m.faults.push_back(f);

  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(first.SelfUpdates(), 1);
  EXPECT_EQ(second.SelfUpdates(), 0);
  EXPECT_THAT(Trace(s.m, 1), ElementsAre("inquiry", "read-buffer 2/F1", "inquiry"));
  EXPECT_THAT(s.m.console, HasSubstr(Start(2) + test::En(9) + test::En(58)));
  ASSERT_EQ(s.m.boxes.size(), 3u);  // update all?, the failure, the summary
  EXPECT_EQ(s.m.boxes[1].text, test::En(9));
  EXPECT_EQ(s.m.boxes[1].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
}

TEST(RomUpToDate, DriveHoldingTheImageEndsBeforeAnythingIsWritten) {
  // The definition names 1.08, but the image in the file is what the drive already holds, apart
  // from the drive's own bytes, which the comparison leaves out.
  RomScene s(5);
  s.next = s.held;
  sim::RomConfig config;
  config.rom = sim::BuildRomImage(s.held);
  for (uint32_t at = sim::kRomOwnData; at < sim::kRomOwnDataEnd; ++at)
    config.rom[at] = static_cast<uint8_t>(at);
  config.place = s.held.place;
  sim::RomDrive& drive = s.rig.AddRom(config);

  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(s.m.console, kBanner + Start(1) + test::En(17) + kCurrent + test::En(4));
  ASSERT_EQ(s.m.boxes.size(), 1u);
  EXPECT_EQ(s.m.boxes[0].text, test::En(4));
  EXPECT_EQ(s.m.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_THAT(Only(Trace(s.m), "rom"),
              ElementsAre("rom 001000+40", "rom 000000+8000", "rom 008000+8000", "rom 010000+8000",
                          "rom 018000+8000"));
  EXPECT_THAT(Only(Trace(s.m), "enter"), IsEmpty());
  EXPECT_THAT(Only(Trace(s.m), "block"), IsEmpty());
  EXPECT_EQ(drive.SelfUpdates(), 0);
}

TEST(RomUpToDate, WithEveryDriveUpdatedWithoutQuestionsTheMessageStaysOnTheConsole) {
  RomScene s(5);
  s.next = s.held;
  s.AddDrive();
  s.AddDrive();
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(gAllAuto, 1);
  EXPECT_EQ(s.m.console, kBanner + Start(1) + test::En(17) + kCurrent + test::En(4) + Start(2) +
                             test::En(17) + kCurrent + test::En(4));
  ASSERT_EQ(s.m.boxes.size(), 1u) << "only the question whether to update all";
}

TEST(RomUpToDate, TargetNotNewerThanTheDriveEndsAtTheVersionCheck) {
  for (const char* driveAt : {"1.08", "1.09"}) {
    RomScene s(5);
    s.held.revision = driveAt;
    sim::RomDrive& drive = s.AddDrive();
    EXPECT_EQ(s.Run(), 0) << driveAt;
    EXPECT_THAT(s.m.console, HasSubstr(test::En(17) +
                                       "\nCurrent Revision>> KESTREL DVD-ROM "
                                       "QXD-516  " +
                                       driveAt + "  2007/11/02" + test::En(4)));
    EXPECT_THAT(s.m.boxes, IsEmpty()) << "a console line only";
    EXPECT_THAT(Only(Trace(s.m), "rom"), ElementsAre("rom 001000+40")) << "nothing read back";
    EXPECT_EQ(drive.SelfUpdates(), 0);
  }
}

// A drive or an image that does not belong to the definition: the run ends.
struct Mismatch {
  const char* name;
  int32_t model;
  void (*spoil)(RomScene&, sim::RomConfig&);
  int message;
};

void PrintTo(const Mismatch& c, std::ostream* os) {
  *os << c.name;
}

class RomMismatch : public ::testing::TestWithParam<Mismatch> {};

TEST_P(RomMismatch, EndsTheRunBeforeAnythingIsWritten) {
  const Mismatch& c = GetParam();
  RomScene s(c.model);
  sim::RomConfig config;
  c.spoil(s, config);
  sim::RomDrive& drive = s.AddDrive(config);

  EXPECT_EQ(s.Run(), 1);
  EXPECT_THAT(s.m.console, HasSubstr(test::En(c.message) + test::En(36)));
  for (int other : {49, 64, 65, 40})
    if (other != c.message) {
      EXPECT_THAT(s.m.console, Not(HasSubstr(test::En(other))));
    }
  ASSERT_EQ(s.m.boxes.size(), 1u);
  EXPECT_EQ(s.m.boxes[0].text, test::En(36));
  EXPECT_EQ(s.m.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_THAT(Only(Trace(s.m), "enter"), IsEmpty());
  EXPECT_EQ(drive.SelfUpdates(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RomMismatch,
    ::testing::Values(
        // A QXR-515 is accepted by any definition's drive list, but not by this entry.
        Mismatch{"Product", 5, [](RomScene&, sim::RomConfig& c) { c.product = "DVD-RW  QXR-515 "; },
                 49},
        Mismatch{"RomModel", 5,
                 [](RomScene& s, sim::RomConfig&) { s.held.model = "KESTREL QXD-517 "; }, 64},
        Mismatch{"RomCpu", 5,
                 [](RomScene& s, sim::RomConfig&) {
                   s.held.cpu = std::string("KCP-7711", 8) + std::string(8, '\0');
                 },
                 65},
        Mismatch{"ImageModel", 5,
                 [](RomScene& s, sim::RomConfig&) { s.next.model = "KESTREL QXD-517 "; }, 64},
        Mismatch{"ImageCpu", 5,
                 [](RomScene& s, sim::RomConfig&) {
                   s.next.cpu = std::string("KCP-7711", 8) + std::string(8, '\0');
                 },
                 40},
        Mismatch{"ImageModelTwelveBytes", 8,
                 [](RomScene& s, sim::RomConfig&) { s.next.model = "KESTREL QXD_516 "; }, 64},
        Mismatch{"PatternModel", 9,
                 [](RomScene& s, sim::RomConfig&) { s.held.model = sim::kRomIdModelBText; }, 64},
        // Model name C is a known identity, but no model code updates it.
        Mismatch{"PatternModelC", 11,
                 [](RomScene& s, sim::RomConfig&) { s.held.model = sim::kRomIdModelCText; }, 64},
        Mismatch{"PatternImageModel", 9,
                 [](RomScene& s, sim::RomConfig&) { s.next.model = sim::kRomIdModelBText; }, 64},
        Mismatch{"PatternImageCpu", 11,
                 [](RomScene& s, sim::RomConfig&) { s.next.cpu = "MCU-R8032 CORE X"; }, 40},
        // Model code 10 compares 12 bytes of the CPU name, where the others stop at its text.
        Mismatch{"TwelveByteCpu", 10,
                 [](RomScene& s, sim::RomConfig&) {
                   s.held.cpu = std::string("KCP-7710-R", 10) + std::string(6, '\0');
                 },
                 65}),
    [](const ::testing::TestParamInfo<Mismatch>& info) { return std::string(info.param.name); });

TEST(RomRefusal, CpuComparedByItsTextLengthIgnoresWhatFollowsIt) {
  // The CPU name that stops model code 10 passes model code 12; an empty name passes any drive.
  RomScene longer(12);
  longer.held.cpu = std::string("KCP-7710-R", 10) + std::string(6, '\0');
  longer.AddDrive();
  EXPECT_EQ(longer.Run(), 0) << longer.m.console;

  RomScene empty(5);
  empty.held.cpu = "KCP-9999";
  empty.next.cpu = std::string(16, '\0');
  empty.entry.cpu.clear();
  empty.AddDrive();
  EXPECT_EQ(empty.Run(), 0) << empty.m.console;
}

TEST(RomRefusal, ModelCodeEightLooksAtTwelveBytesOfTheImageFields) {
  RomScene s(8);
  s.next.model = "KESTREL QXD-XXX?";
  s.next.cpu = std::string("KCP-7710\0\0\0\0WXYZ", 16);
  sim::RomDrive& drive = s.AddDrive();
  EXPECT_EQ(s.Run(), 0) << s.m.console;
  EXPECT_EQ(drive.SelfUpdates(), 1);
}

TEST(RomRefusal, ImageOfOnlyItsLastBlockIsRefusedBeforeTheChecks) {
  for (uint32_t size : {0x1000u, 0x800u}) {
    RomScene s(12);
    s.entry.size = size;
    sim::RomDrive& drive = s.AddDrive();
    EXPECT_EQ(s.Run(), 1) << size;
    EXPECT_EQ(s.m.console,
              kBanner + Start(1) + test::En(17) + kCurrent + test::En(40) + test::En(36));
    EXPECT_THAT(Only(Trace(s.m), "enter"), IsEmpty());
    EXPECT_EQ(drive.SelfUpdates(), 0);
  }
}

TEST(RomRefusal, HexFileThatCannotBeLoadedEndsTheRun) {
  RomScene missing(5);
  missing.AddDrive();
  missing.rig.UseRomDefinition(missing.entry, 5, "1.08", "NOFILE.HEX");
  EXPECT_EQ(test::RunMain(missing.m), 1);
  EXPECT_EQ(missing.m.console, kBanner + Start(1) + test::En(20) + test::En(36));

  // A blank line before the end: the loader names the fault, the update its consequence.
  RomScene blank(5);
  blank.AddDrive();
  std::string text = sim::ToIntelHex(blank.Image());
  text.insert(text.find(":02000002"), "\r\n");
  blank.rig.UseRomDefinition(blank.entry, 5, "1.08", "BLANK.HEX");
  blank.m.WriteFile("BLANK.HEX", Bytes(text.begin(), text.end()));
  EXPECT_EQ(test::RunMain(blank.m), 1);
  EXPECT_EQ(blank.m.console, kBanner + Start(1) + test::En(16) + test::En(20) + test::En(36));
}

}  // namespace
