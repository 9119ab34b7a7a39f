// Whole runs of the program over virtual read-only drives (QXD-516 drives, the new image as a HEX
// file beside the program and a definition naming it): the update of each model code, the
// identification from the ROM, the drives left alone, the refusals, the patch block and the
// marker in the last transfer, the countdown of the self-update on both Windows paths, the
// read-back after it, and failures along the way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/global.h"
#include "sim/image_tools.h"
#include "sim/rig.h"
#include "sim/scsi.h"
#include "tests/support.h"
#include "update/dvdrom.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kBanner[] = "\n/// ODD Firmware Update Utility Ver2.57C\n";
constexpr char kCurrent[] = "\nCurrent Revision>> KESTREL DVD-ROM QXD-516  1.05  2007/11/02";
constexpr char kNew[] = "\nNew Revision    >> KESTREL DVD-ROM QXD-516  1.08  2008/03/14";
std::string Start(int n) {
  return "\r\nStart updating the device No." + std::to_string(n) + ".";
}

// A run that updates QXD-516 drives of one model code from 1.05 to 1.08.
struct RomScene {
  explicit RomScene(int32_t modelCode = 5)
      : model(modelCode), held(sim::RomSpecForModel(modelCode)), next(held), entry(held) {
    next.revision = "1.08";
    next.date = "2008/03/14";
    next.seed = 7;
  }

  // Adds a drive holding `held`.
  sim::RomDrive& AddDrive(sim::RomConfig config = {}) {
    config.place = held.place;
    config.rom = sim::BuildRomImage(held);
    return rig.AddRom(std::move(config));
  }
  Bytes Image() const { return sim::BuildRomImage(next); }
  // Writes the HEX file, installs the definition and runs the program: its exit code.
  int Run() {
    rig.WriteHex(Image(), "QXD516.HEX");
    rig.UseRomDefinition(entry, model, "1.08", "QXD516.HEX", fwVer);
    return test::RunMain(m);
  }

  sim::Machine m;
  sim::Rig rig{m};
  int32_t model;
  sim::RomImageSpec held;   // the ROM the drives hold: 1.05 of 2007-11-02
  sim::RomImageSpec next;   // the image in the HEX file: 1.08 of 2008-03-14
  sim::RomImageSpec entry;  // identity and size the definition names (model, CPU, size)
  uint16_t fwVer = 0x100;
};

// One command as a drive saw it, in a few words: "inquiry", "read-buffer 2/F1" (mode and buffer
// id), "rom 01C000+40" (ROM read: address and length), "enter" (update mode), "stop",
// "block 018000+8000" (image block: offset and length), "flash" (self-update).
std::string Describe(const sim::LogEntry& e) {
  const std::vector<uint8_t>& c = e.cdb;
  char text[40];
  if ((c[0] == 0x3C && c[2] == 0x80) || (c[0] == 0x3B && c[2] == 0xFF))
    std::snprintf(text, sizeof text, "%s %06X+%X", c[0] == 0x3C ? "rom" : "block", sim::Be24(&c[3]),
                  sim::Be24(&c[6]));
  else if (c[0] == 0x3C)
    std::snprintf(text, sizeof text, "read-buffer %u/%02X", c[1] & 0x1Fu, c[2]);
  else if (c[0] == 0x3B)
    return c[2] == 0x30 ? "enter" : c[2] == 0x42 ? "flash" : "write-buffer";
  else
    return c[0] == 0x12 ? "inquiry" : c[0] == 0x1B ? "stop" : "other";
  return text;
}

// The commands that reached the drive in `slot` (-1: every drive) and begin with `word`, described.
std::vector<std::string> Trace(const sim::Machine& m, const std::string& word = "", int slot = -1) {
  std::vector<std::string> out;
  for (const sim::LogEntry& e : m.log)
    if (slot < 0 || e.slot == slot)
      if (std::string d = Describe(e); d.rfind(word, 0) == 0) out.push_back(d);
  return out;
}

// The seconds of the countdown lines of a console, in order.
std::vector<int> Countdown(const std::string& console) {
  static const std::string kLine = "\rRemaining time is ";
  std::vector<int> out;
  for (size_t at = console.find(kLine); at != std::string::npos; at = console.find(kLine, at + 1))
    out.push_back(std::stoi(console.substr(at + kLine.size())));
  return out;
}

// `image` with `rom`'s bytes where a drive keeps its own data: what a drive that flashed `image`
// over `rom` holds.
Bytes Flashed(const Bytes& image, const Bytes& rom) {
  Bytes out = image;
  std::copy(rom.begin() + sim::kRomOwnData, rom.begin() + sim::kRomOwnDataEnd,
            out.begin() + sim::kRomOwnData);
  return out;
}

const std::vector<std::string> kRomReads = {"rom 000000+8000", "rom 008000+8000", "rom 010000+8000",
                                            "rom 018000+8000"};

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
  EXPECT_EQ(drive.SelfUpdates(), 1);
  EXPECT_EQ(drive.Marker(), "WIN ");
  EXPECT_EQ(drive.Rom(), Flashed(s.Image(), old));
  EXPECT_EQ(drive.Revision(), "1.08");
}

TEST(RomUpdate, EachModelCodeFindsItsIdentityAndLimitsItsSelfUpdate) {
  const std::vector<std::string> kPlaces = {"rom 001000+40", "rom 01C000+40", "rom 01F000+20"};
  const char *kNamed = "KESTREL QXD-516 ", *kCpu = "KCP-7710", *kIdCpu = "MCU-R8032 CORE  ";
  const struct {
    int32_t model;
    size_t places;  // ROM reads that look for the identity, at the places above
    bool verify;    // the ROM is compared before and after
    uint32_t updateLimit;
    std::string romModel, romCpu;
  } cases[] = {
      // clang-format off
      {7,  1, true,  30000, kNamed, kCpu},
      {8,  1, false, 30000, kNamed, kCpu},  // the name at 0x1010, in the first read
      {9,  3, false, 10000, "QXD-516 ROM-A   ", kIdCpu},
      {10, 2, false, 30000, kNamed, kCpu},
      {11, 3, false, 10000, "QXD-516 ROM-B   ", kIdCpu},
      {12, 1, false, 30000, kNamed, kCpu},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    RomScene s(c.model);
    sim::RomConfig config;
    config.latency.selfUpdate = 8000;  // within the shortest limit
    sim::RomDrive& drive = s.AddDrive(config);
    const Bytes old = drive.Rom();

    ASSERT_EQ(s.Run(), 0) << s.m.console;
    EXPECT_THAT(s.m.console, HasSubstr(kNew + test::En(12)));
    EXPECT_EQ(drive.Rom(), Flashed(s.Image(), old));
    EXPECT_EQ(std::string(gRomModel, 16), c.romModel);
    EXPECT_EQ(std::string(gRomCpu, c.romCpu.size()), c.romCpu);
    std::vector<std::string> reads(kPlaces.begin(), kPlaces.begin() + c.places);
    for (int pass = 0; c.verify && pass < 2; ++pass)
      reads.insert(reads.end(), kRomReads.begin(), kRomReads.end());
    EXPECT_THAT(Trace(s.m, "rom"), ElementsAreArray(reads));
    EXPECT_EQ(s.m.Sent({0x3B, 0x01, 0x42}).at(0)->timeoutMs, c.updateLimit);
    EXPECT_EQ(Countdown(s.m.console).back(), 0);  // counted to the limit
  }
}

TEST(RomIdentity, PatternsStandForThePlainIdentitiesTheDrivesCarry) {
  auto bytes = [](const char* text) { return reinterpret_cast<const uint8_t*>(text); };
  EXPECT_TRUE(RomIdIs(bytes(sim::kRomIdCpuText), gRomIdCpu));
  EXPECT_TRUE(RomIdIs(bytes(sim::kRomIdModelAText), gRomIdModelA));
  EXPECT_TRUE(RomIdIs(bytes(sim::kRomIdModelBText), gRomIdModelB));
  EXPECT_TRUE(RomIdIs(bytes(sim::kRomIdModelCText), gRomIdModelC));
  EXPECT_FALSE(RomIdIs(bytes(sim::kRomIdModelAText), gRomIdModelB));
  EXPECT_FALSE(RomIdIs(bytes("QXD-516 ROM-A  !"), gRomIdModelA)) << "the last byte counts";
}

TEST(RomIdentity, DriveWithoutAReadableIdentityIsSkippedWithTheLastErrorCode) {
  // The last failed command was the enumeration's drive information read, which a read-only
  // drive refuses: its code is what there is to show.
  RomScene s(9);
  s.held.model = "KESTREL QXD-516 ";  // at 0x1F000, where only the patterns count
  s.AddDrive();
  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(std::string(gRomModel, 16), "Not recognize   ");
  EXPECT_EQ(std::string(gRomCpu, 16), "Not recognize   ");
  EXPECT_EQ(s.m.console, kBanner + Start(1) + "\r\nError Code : 052400" + test::En(0));
  EXPECT_THAT(Trace(s.m, "rom"), ElementsAre("rom 001000+40", "rom 01C000+40", "rom 01F000+20"));
  ASSERT_EQ(s.m.boxes.size(), 1u);
  EXPECT_EQ(s.m.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
}

TEST(RomIdentity, FailedInquiryOfOneDriveSkipsItWithoutTouchingIt) {
  // The second drive's INQUIRY times out: it is skipped, not updated with what the first drive
  // left behind.
  RomScene s(5);
  sim::RomDrive& first = s.AddDrive();
  sim::RomDrive& second = s.AddDrive();
  s.m.faults = {
      {.kind = sim::Fault::Kind::Timeout, .slot = 1, .cdb = {0x12}, .nth = 2, .sense = {}}};

  EXPECT_EQ(s.Run(), 0);
  EXPECT_EQ(first.SelfUpdates(), 1);
  EXPECT_EQ(second.SelfUpdates(), 0);
  EXPECT_THAT(Trace(s.m, "", 1), ElementsAre("inquiry", "read-buffer 2/F1", "inquiry"));
  EXPECT_THAT(s.m.console, HasSubstr(Start(2) + test::En(9) + test::En(58)));
  ASSERT_EQ(s.m.boxes.size(), 3u);  // update all?, the failure, the summary
  EXPECT_EQ(s.m.boxes[1].text, test::En(9));
}

TEST(RomUpToDate, NothingIsWrittenToADriveThatHoldsTheImageOrANewerRevision) {
  // The image in the file is what the drive already holds, apart from the drive's own bytes,
  // which the comparison leaves out: a box, after the ROM was read.
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
  EXPECT_EQ(s.m.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(Trace(s.m, "rom").size(), 5u);
  EXPECT_THAT(Trace(s.m, "enter"), IsEmpty());
  EXPECT_EQ(drive.SelfUpdates(), 0);

  // The target version is not newer than the drive's: a console line, before the ROM is read.
  for (const char* driveAt : {"1.08", "1.09"}) {
    SCOPED_TRACE(driveAt);
    RomScene t(5);
    t.held.revision = driveAt;
    sim::RomDrive& newer = t.AddDrive();
    EXPECT_EQ(t.Run(), 0);
    EXPECT_THAT(t.m.console,
                HasSubstr("QXD-516  " + std::string(driveAt) + "  2007/11/02" + test::En(4)));
    EXPECT_THAT(t.m.boxes, IsEmpty());
    EXPECT_THAT(Trace(t.m, "rom"), ElementsAre("rom 001000+40"));
    EXPECT_EQ(newer.SelfUpdates(), 0);
  }
}

// A case's change to a scene and to the drive it adds.
using Tweak = void (*)(RomScene&, sim::RomConfig&);

TEST(RomRefusal, DriveOrImageMustMatchTheEntryOverTheFieldsWidths) {
  const struct {
    const char* name;
    int32_t model;
    int msg;  // 0: updated
    Tweak tweak;
  } cases[] = {
      // clang-format off
      // A QXR-515 is accepted by any definition's drive list, but not by this entry.
      {"product",     5, 49, [](auto&, auto& c) { c.product = "DVD-RW  QXR-515 "; }},
      {"ROM model",   5, 64, [](auto& s, auto&) { s.held.model = "KESTREL QXD-517 "; }},
      {"ROM CPU",     5, 65, [](auto& s, auto&) { s.held.cpu = "KCP-7711"; }},
      {"image model", 5, 64, [](auto& s, auto&) { s.next.model = "KESTREL QXD-517 "; }},
      {"image CPU",   5, 40, [](auto& s, auto&) { s.next.cpu = "KCP-7711"; }},
      {"image model, 12 bytes", 8, 64, [](auto& s, auto&) { s.next.model = "KESTREL QXD_516 "; }},
      {"pattern model",   9, 64, [](auto& s, auto&) { s.held.model = sim::kRomIdModelBText; }},
      // Model name C is a known identity, but no model code updates it.
      {"pattern model C", 11, 64, [](auto& s, auto&) { s.held.model = sim::kRomIdModelCText; }},
      {"pattern image CPU", 11, 40, [](auto& s, auto&) { s.next.cpu = "MCU-R8032 CORE X"; }},
      // Model code 10 compares 12 bytes of the CPU name, the others only its text.
      {"12-byte CPU", 10, 65, [](auto& s, auto&) { s.held.cpu = "KCP-7710-R"; }},
      {"CPU text",    12, 0,  [](auto& s, auto&) { s.held.cpu = "KCP-7710-R"; }},
      // An empty CPU name passes any drive.
      {"no CPU", 5, 0, [](auto& s, auto&) {
         s.held.cpu = "KCP-9999";
         s.next.cpu = s.entry.cpu = std::string(16, 0); }},
      // Model code 8 looks at 12 bytes of the image's model and CPU fields.
      {"12 bytes of image fields", 8, 0, [](auto& s, auto&) {
         s.next.model = "KESTREL QXD-XXX?";
         s.next.cpu = std::string("KCP-7710\0\0\0\0WXYZ", 16); }},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RomScene s(c.model);
    sim::RomConfig config;
    c.tweak(s, config);
    sim::RomDrive& drive = s.AddDrive(config);

    EXPECT_EQ(s.Run(), c.msg == 0 ? 0 : 1);
    EXPECT_EQ(drive.SelfUpdates(), c.msg == 0 ? 1 : 0);
    if (c.msg == 0) continue;
    EXPECT_THAT(s.m.console, HasSubstr(test::En(c.msg) + test::En(36)));
    ASSERT_EQ(s.m.boxes.size(), 1u);
    EXPECT_EQ(s.m.boxes[0].text, test::En(36));
    EXPECT_THAT(Trace(s.m, "enter"), IsEmpty());
  }
}

TEST(RomRefusal, ImageOfOnlyItsLastBlockIsRefusedBeforeTheChecks) {
  for (uint32_t size : {0x1000u, 0x800u}) {
    SCOPED_TRACE(size);
    RomScene s(12);
    s.entry.size = size;
    s.AddDrive();
    EXPECT_EQ(s.Run(), 1);
    EXPECT_EQ(s.m.console,
              kBanner + Start(1) + test::En(17) + kCurrent + test::En(40) + test::En(36));
    EXPECT_THAT(Trace(s.m, "enter"), IsEmpty());
  }
}

// A drive at 1.06, which needs the patch file beside the program; its patch block is `block`.
sim::RomDrive& AddPatchedDrive(RomScene& s, const Bytes& block) {
  s.held.revision = "1.06";
  Bytes image(0x21000, 0xFF);
  std::copy(block.begin(), block.end(), image.begin() + 0x20000);
  // Only the records from the segment of 0x20000 on: the patch file holds nothing else.
  std::string hex = sim::ToIntelHex(image);
  hex.erase(0, hex.find(":020000022000"));
  s.m.WriteFile("G6PATCH.HEX", Bytes(hex.begin(), hex.end()));
  return s.AddDrive();
}

TEST(RomMarker, LastTransferCarriesTheMarkerThenThePatchBlock) {
  Bytes block(0x1000);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<uint8_t>(0x40 + i * 7);
  // The marker takes the place of the patch block's first four bytes; the next twelve follow it.
  // Unpatched, they are what the image buffer holds after the image: zero.
  const Bytes after(block.begin() + 4, block.begin() + 16), none(12, 0);
  const struct {
    const char* name;
    const char* adapter;  // ASPI host adapter; none: pass-through
    bool intelKey;        // the Intel driver's key, as the pass-through path finds it
    bool patched;
    const char* marker;
  } cases[] = {
      {"pass-through", nullptr, false, false, "WIN "},
      {"pass-through, patched", nullptr, false, true, "WIN "},
      {"pass-through, Intel, patched", nullptr, true, true, "WIN2"},
      {"ASPI", "ESDI_506", false, false, "WIN2"},
      {"ASPI, patched", "ESDI_506", false, true, "WIN "},
      {"ASPI, Intel", "intelata", false, false, "WIN2"},
      {"ASPI, Intel, patched", "intelata", false, true, "WIN2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RomScene s(5);
    if (c.adapter != nullptr) s.rig.Windows98(c.adapter);
    if (c.intelKey) s.m.registry["HKLM\\SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver"];
    sim::RomDrive& drive = c.patched ? AddPatchedDrive(s, block) : s.AddDrive();
    const Bytes old = drive.Rom();
    s.m.keepData = true;

    ASSERT_EQ(s.Run(), 0) << s.m.console;
    EXPECT_EQ(s.m.console.find(test::En(19) + test::En(17) + test::En(61)) != std::string::npos,
              c.patched);
    EXPECT_EQ(drive.Marker(), c.marker);
    EXPECT_EQ(drive.TrailerBytes(), c.patched ? after : none);
    EXPECT_EQ(drive.Rom(), Flashed(s.Image(), old));
    const Bytes& last = s.m.Sent({0x3B, 0x01, 0xFF}).at(4)->data;
    ASSERT_EQ(last.size(), 0x1010u);
    const Bytes image = s.Image();
    EXPECT_EQ(Bytes(last.begin(), last.begin() + 0x1000), Bytes(image.end() - 0x1000, image.end()));
    EXPECT_EQ(std::string(last.begin() + 0x1000, last.begin() + 0x1004), c.marker);
  }
}

TEST(RomCountdown, CountsWhatIsLeftOfTheLimitAndAtLeastOnce) {
  // On the ASPI path the update command runs on while a full 30 s are counted, and the next
  // command waits for the end of the countdown and 2 s more; whatever the model code's limit
  // (model code 9: 10 s; 5: none). On pass-through the countdown starts when the command has
  // returned: what is left of the limit, and at least one line.
  const struct {
    bool aspi;
    int32_t model;
    uint32_t selfUpdate;
    int first, last;  // seconds of the first and last countdown lines
  } cases[] = {
      {true, 5, 20000, 29, 0}, {true, 9, 20000, 29, 0}, {false, 5, 25000, 4, 0},
      {false, 9, 8000, 1, 0},  {false, 5, 29500, 0, 0}, {false, 11, 10000, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.aspi << " " << c.model << " " << c.selfUpdate);
    RomScene s(c.model);
    if (c.aspi) {
      s.fwVer = 0x108;  // the definition that this path accepts for model code 9
      s.rig.Windows98();
    }
    sim::RomConfig config;
    config.latency.selfUpdate = c.selfUpdate;
    sim::RomDrive& drive = s.AddDrive(config);

    ASSERT_EQ(s.Run(), 0) << s.m.console;
    std::vector<int> seconds;
    for (int n = c.first; n >= c.last; --n)
      seconds.push_back(n);
    EXPECT_EQ(Countdown(s.m.console), seconds);
    EXPECT_THAT(s.m.console, HasSubstr(test::En(61) + "\n\rRemaining time is "));
    EXPECT_THAT(s.m.console, HasSubstr("sec" + std::string(kNew)));
    EXPECT_EQ(drive.SelfUpdates(), 1);
    if (!c.aspi) continue;
    const sim::LogEntry* flash = s.m.Sent({0x3B, 0x01, 0x42}).at(0);
    EXPECT_EQ((flash + 1)->time - flash->time, 32000u);
    EXPECT_EQ(s.m.aspiAborts, 0) << "the update had ended when the countdown did";
  }
}

TEST(RomReadBack, RomThatDiffersAfterTheUpdateIsAVerifyError) {
  // One wrong byte in each region the comparison tells apart; the drive's own bytes are not
  // compared.
  for (uint32_t bad : {0x10u, 0x400u, 0x44Fu, 0x450u, 0x1FFFFu}) {
    SCOPED_TRACE(bad);
    const bool own = bad >= sim::kRomOwnData && bad < sim::kRomOwnDataEnd;
    RomScene s(5);
    sim::RomConfig config;
    config.badFlash = {bad};
    s.AddDrive(config);
    EXPECT_EQ(s.Run(), 0);
    EXPECT_THAT(s.m.console, own ? HasSubstr(kNew + test::En(12))
                                 : HasSubstr("\rRemaining time is 00sec" + test::En(25)));
    EXPECT_EQ(Trace(s.m, "rom").size(), 9u) << "read back in full";
  }
}

TEST(RomTransferFailure, FailedBlockShowsItsSenseAndEndsTheRun) {
  const sim::Fault kLastBlockTimesOut{
      .kind = sim::Fault::Kind::Timeout, .cdb = {0x3B, 0x01, 0xFF, 0x01, 0xF0, 0x00}, .sense = {}};
  const sim::Fault kWriteError{.cdb = {0x3B, 0x01, 0xFF}, .nth = 3, .sense = {3, 0x0C, 0}};
  // The transfer enters the update mode again (the first time was when the update began).
  const sim::Fault kModeRefused{.cdb = {0x3B, 0x01, 0x30}, .nth = 2, .sense = {5, 0x26, 0}};
  const struct {
    const char* name;
    const char* adapter;  // none: pass-through
    sim::Fault fault;
    size_t blocks;
    const char* sense;
  } cases[] = {
      {"pass-through", nullptr, kWriteError, 3, "03-0c-00"},
      {"ASPI", "ESDI_506", kWriteError, 3, "03-0c-00"},
      // A time-out has no sense from the drive: the transport's own is shown.
      {"last block times out", nullptr, kLastBlockTimesOut, 5, "0b-08-00"},
      {"update mode refused", nullptr, kModeRefused, 0, "05-26-00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RomScene s(5);
    if (c.adapter != nullptr) s.rig.Windows98(c.adapter);
    sim::RomDrive& drive = s.AddDrive();
    s.m.faults = {c.fault};
    EXPECT_EQ(s.Run(), 1);
    EXPECT_THAT(s.m.console, HasSubstr(test::En(61) + "\nSense Code : " + c.sense + test::En(23) +
                                       test::En(36)));
    EXPECT_EQ(Trace(s.m, "block").size(), c.blocks);
    EXPECT_THAT(Trace(s.m, "flash"), IsEmpty());
    EXPECT_EQ(drive.SelfUpdates(), 0);
  }
}

TEST(RomTransferFailure, RefusedStepSkipsTheDriveAndTheNextIsUpdated) {
  // Refused when the update begins, or the self-update refused: the command's own result, so the
  // run goes on. A failed disc stop is no reason to stop.
  const struct {
    std::vector<int> cdb;
    int msg;
  } cases[] = {{{0x3B, 0x01, 0x30}, 22}, {{0x3B, 0x01, 0x42}, 24}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.msg);
    RomScene s(5);
    sim::RomDrive& first = s.AddDrive();
    sim::RomDrive& second = s.AddDrive();
    s.m.faults = {{.slot = 0, .cdb = c.cdb, .sense = {5, 0x26, 0}},
                  {.cdb = {0x1B}, .nth = 0, .sense = {2, 0x04, 0}}};
    EXPECT_EQ(s.Run(), 0);
    EXPECT_THAT(s.m.console, HasSubstr(test::En(61) + test::En(c.msg) + Start(2)));
    EXPECT_THAT(s.m.console, HasSubstr("\r\n1drive(s) have been updated successfully."));
    EXPECT_EQ(first.SelfUpdates(), 0);
    EXPECT_EQ(second.SelfUpdates(), 1);
  }
}

}  // namespace
