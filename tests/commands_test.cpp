// The drive command set as the drive receives it: CDBs, data phases and time-outs of every builder,
// the time-outs the vendor commands leave behind, and the mode switches, the region query and
// REQUEST SENSE against the virtual recordable drive on both Windows paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "commands/submod.h"
#include "common/global.h"
#include "driver/defdata.h"
#include "sim/rig.h"
#include "tests/support.h"
#include "tests/transport_drive.h"
#include "transport/cmdapi.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Where the drive under test sits.
enum class At {
  Letter,       // pass-through, behind a drive letter
  Letter1394,   // pass-through, an IEEE 1394 drive (its address query fails)
  Esdi,         // Windows 98, ASPI, on the IDE adapter
  IntelAta,     // Windows 98, ASPI, on the Intel IDE driver's adapter
  Adapter1394,  // Windows 98, ASPI, on the IEEE 1394 adapter
};

const char* Name(At at) {
  static const char* const kNames[] = {"letter", "letter 1394", "ESDI_506", "intelata",
                                       "1394 adapter"};
  return kNames[static_cast<int>(at)];
}

// A machine with its drives, the transport open and the targets listed as the update procedures
// find them: gDevId 0, gModel and gRwKey those of the drive, one INQUIRY already sent to it (so
// the pass-through path knows whether it is the IEEE 1394 drive) and the log empty.
class Bed {
 public:
  sim::Machine m;
  sim::Rig rig{m};

  ~Bed() {
    if (started_) EndCmdApi();
    m.Uninstall();
  }

  void Start(int targets = 1) {
    test::Fresh(m);
    SetDefData();
    ASSERT_EQ(InitCmdApi(), 0);
    ASSERT_EQ(EnumDevice(), targets);
    started_ = true;
    gDevId = 0;
    ASSERT_EQ(InqCmd(0, gInq), 0);
    m.log.clear();
  }

  // One recordable drive at `at`.
  sim::RwDrive& Rw(At at, sim::RwConfig config = {}) {
    if (at == At::Esdi) rig.Windows98("ESDI_506");
    if (at == At::IntelAta) rig.Windows98("intelata");
    if (at == At::Adapter1394) rig.Windows98("");
    sim::RwDrive& drive = rig.AddRw(config);
    m.slots.back().ieee1394 = at == At::Letter1394;
    Start();
    gModel = static_cast<int32_t>(config.modelCode);
    gRwKey = config.modeKeyBase;
    return drive;
  }

  // One drive behind D: that accepts every command.
  test::ScriptedDrive& Scripted() {
    m.AddAtLetter(test::MakeDrive(), 'D');
    test::DriveAt(m, 0).other = RpcReply(8);
    Start();
    return test::DriveAt(m, 0);
  }

  // Answers REPORT KEY with the RPC state of scheme 1 cut to `bytes`, every other command good.
  static std::function<sim::Result(const sim::Command&)> RpcReply(uint32_t bytes) {
    return [bytes](const sim::Command& c) {
      static const uint8_t kRpcState[8] = {0, 6, 0, 0, 0x80, 0xFE, 1, 0};
      sim::Result r;
      if (c.cdb[0] == 0xA4 && c.dir == sim::Dir::In) {
        r.transferred = std::min({c.length, bytes, uint32_t{sizeof kRpcState}});
        std::memcpy(c.data, kRpcState, r.transferred);
      }
      return r;
    };
  }

  bool Shown(int id) const { return m.console.find(test::En(id)) != std::string::npos; }

 private:
  bool started_ = false;
};

// One request as the log shows it.
struct Request {
  Bytes cdb;
  sim::Dir dir;
  uint32_t length;
  uint32_t timeoutMs;  // as the pass-through path sends it: whole seconds, 0 becomes 60 s
};

void ExpectSent(const sim::LogEntry& e, const Request& r) {
  EXPECT_EQ(e.cdb, r.cdb);
  EXPECT_EQ(e.dir, r.dir);
  EXPECT_EQ(e.length, r.length);
  EXPECT_EQ(e.timeoutMs, r.timeoutMs);
}

constexpr sim::Dir kNone = sim::Dir::None;
constexpr sim::Dir kIn = sim::Dir::In;
constexpr sim::Dir kOut = sim::Dir::Out;

TEST(StandardCommands, EachBuilderSendsItsCdbDataPhaseAndTimeOut) {
  Bed bed;
  bed.Scripted();
  gTimeout = 3000;
  const struct {
    const char* what;
    std::function<int()> call;
    Request sent;
  } cases[] = {
      {"TEST UNIT READY", [] { return TestUnitReady(0); }, {{0, 0, 0, 0, 0, 0}, kNone, 0, 3000}},
      {"INQUIRY", [] { return InqCmd(0, pBuff); }, {{0x12, 0, 0, 0, 0x60, 0}, kIn, 96, 5000}},
      {"stop",
       [] { return StartStopUnit(0, 0, 0, 0, 0); },
       {{0x1B, 0, 0, 0, 0, 0}, kNone, 0, 3000}},
      {"eject",
       [] { return StartStopUnit(0, 0, 0, 1, 0); },
       {{0x1B, 0, 0, 0, 2, 0}, kNone, 0, 3000}},
      {"fields cut to their bits",
       [] { return StartStopUnit(0, 3, 0x1F, 3, 3); },
       {{0x1B, 1, 0, 0, 0xF3, 0}, kNone, 0, 3000}},
      {"drive information",
       [] { return ReadBuffer(0, 2, 0xF1, 0, 48, gRwInfo); },
       {{0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 0x30, 0}, kIn, 48, 3000}},
      {"read at a 24-bit offset",
       [] { return ReadBuffer(0, 1, 0x80, 0x01ABCDEF, 0x100, pBuff); },
       {{0x3C, 1, 0x80, 0xAB, 0xCD, 0xEF, 0, 1, 0, 0}, kIn, 256, 3000}},
      {"RPC state",
       [] { return ReportKey(0, 0, 8, 0, 8, pBuff); },
       {{0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 0}, kIn, 8, 3000}},
      {"key class, AGID and format cut to their fields",
       [] { return ReportKey(0, 0x5A, 0x51, 6, 0x102, pBuff); },
       {{0xA4, 0, 0, 0, 0, 0, 0, 0x5A, 1, 2, 0x91, 0}, kIn, 0x102, 3000}},
      {"mode-switch block",
       [] { return WriteBuffer(0, 4, 0xFF, 0, 256, pParam); },
       {{0x3B, 4, 0xFF, 0, 0, 0, 0, 1, 0, 0}, kOut, 256, 3000}},
      {"trigger without data",
       [] { return WriteBuffer(0, 1, 0x42, 0, 0, pBuff); },
       {{0x3B, 1, 0x42, 0, 0, 0, 0, 0, 0, 0}, kNone, 0, 3000}},
      {"block at an offset",
       [] { return WriteBuffer(0, 7, 0xF0, 0x12345, 0x8000, pText); },
       {{0x3B, 7, 0xF0, 0x01, 0x23, 0x45, 0, 0x80, 0, 0}, kOut, 0x8000, 3000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    size_t before = bed.m.log.size();
    EXPECT_EQ(c.call(), 0);
    ASSERT_EQ(bed.m.log.size(), before + 1);
    ExpectSent(bed.m.log.back(), c.sent);
    EXPECT_EQ(gTimeout, 3000u);  // read, never changed
  }
}

TEST(StandardCommands, InquiryAndTheSwitchBackFollowTheIeee1394Drive) {
  Bed bed;
  bed.m.AddAtLetter(test::MakeDrive(), 'D');
  bed.m.AddAtLetter(test::MakeDrive(), 'E').ieee1394 = true;
  bed.Start(2);
  gTimeout = 3000;
  // Each request on the pass-through path learns whether the current drive is the IEEE 1394 one;
  // the next request's time-out follows what the previous one learnt.
  auto inquiry = [](int dev) { return InqCmd(dev, pBuff); };
  auto mode4 = [](int dev) { return WriteBuffer(dev, 4, 0xFF, 0, 256, pParam); };
  auto mode5 = [](int dev) { return WriteBuffer(dev, 5, 0xFF, 0, 256, pParam); };
  const struct {
    const char* what;
    int dev;
    std::function<int(int)> call;
    uint32_t timeoutMs;
  } steps[] = {
      {"INQUIRY after the ordinary drive", 1, inquiry, 5000},
      {"INQUIRY after the IEEE 1394 drive", 0, inquiry, 1000},
      {"mode 5 to the 1394 drive, not known yet", 1, mode5, 3000},
      {"mode 5 to the 1394 drive", 1, mode5, 60000},
      {"mode 4 to the 1394 drive", 1, mode4, 3000},
      {"mode 5 to the other drive", 0, mode5, 3000},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    gDevId = s.dev;  // the builders' callers always address the current drive
    EXPECT_EQ(s.call(s.dev), 0);
    EXPECT_EQ(bed.m.log.back().slot, s.dev);
    EXPECT_EQ(bed.m.log.back().timeoutMs, s.timeoutMs);
  }
}

TEST(StandardCommands, RequestSenseIsSentOnlyWhereSenseDoesNotComeWithTheFailure) {
  Bed bed;
  bed.Rw(At::Letter);
  gTimeout = 2000;
  uint8_t sense[kSenseLen];
  std::memset(sense, 0xAB, sizeof sense);
  EXPECT_EQ(RequestSense(0, sense), 0);
  EXPECT_TRUE(bed.m.log.empty());
  EXPECT_EQ(sense[0], 0xAB);
  EXPECT_EQ(sense[kSenseLen - 1], 0xAB);

  gSendSense = 1;
  EXPECT_EQ(RequestSense(0, sense), 0);
  ASSERT_EQ(bed.m.log.size(), 1u);
  ExpectSent(bed.m.log.back(), {{0x03, 0, 0, 0, 18, 0}, kIn, 18, 2000});
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[7], 10);  // the drive's own fixed-format sense, all 18 bytes
}

TEST(VendorCommands, EachSetsItsTimeOutOrInheritsTheLastOne) {
  Bed bed;
  bed.Scripted();
  gTimeout = 3000;
  const struct {
    const char* what;
    std::function<int()> call;
    Request sent;
    uint32_t leaves;  // gTimeout afterwards
  } steps[] = {
      {"ExecUpdate",
       [] { return ExecUpdate(); },
       {{0x3B, 1, 0x42, 0, 0, 0, 0, 0, 0, 0}, kNone, 0, 3000},
       3000},
      {"HexXfer",
       [] { return HexXfer(0x12345, 0x8000, pText); },
       {{0x3B, 1, 0xFF, 0x01, 0x23, 0x45, 0, 0x80, 0, 0}, kOut, 0x8000, 3000},
       3000},
      {"GetDrvRgn",
       [] { return GetDrvRgn(); },
       {{0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 0}, kIn, 8, 3000},
       3000},
      {"EntExtMode",
       [] { return EntExtMode(); },
       {{0x3B, 1, 0x30, 0, 0, 0, 0, 0, 0, 0}, kNone, 0, 1000},
       1000},
      {"HexXfer after EntExtMode",
       [] { return HexXfer(0, 0x8000, pText); },
       {{0x3B, 1, 0xFF, 0, 0, 0, 0, 0x80, 0, 0}, kOut, 0x8000, 1000},
       1000},
      {"ExecUpdate after HexXfer",
       [] { return ExecUpdate(); },
       {{0x3B, 1, 0x42, 0, 0, 0, 0, 0, 0, 0}, kNone, 0, 1000},
       1000},
      {"RomXfer, address cut to 24 bits",
       [] { return RomXfer(0x0101C010, 0x100, pBuff); },
       {{0x3C, 1, 0x80, 0x01, 0xC0, 0x10, 0, 1, 0, 0}, kIn, 256, 5000},
       5000},
      {"ExecUpdate after RomXfer",
       [] { return ExecUpdate(); },
       {{0x3B, 1, 0x42, 0, 0, 0, 0, 0, 0, 0}, kNone, 0, 5000},
       5000},
      {"DownloadKernel",
       [] { return DownloadKernel(0x8000, 0x8000, pText); },
       {{0x3B, 7, 0xFE, 0, 0x80, 0, 0, 0x80, 0, 0}, kOut, 0x8000, 20000},
       20000},
      {"GetDrvRgn after a download",
       [] { return GetDrvRgn(); },
       {{0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 0}, kIn, 8, 20000},
       20000},
      {"DownloadNormal",
       [] { return DownloadNormal(0x1F8000, 0x8000, pText); },
       {{0x3B, 7, 0xF0, 0x1F, 0x80, 0, 0, 0x80, 0, 0}, kOut, 0x8000, 20000},
       20000},
      {"MoveToKrnlModeRW",
       [] { return MoveToKrnlModeRW(0x1003); },
       {{0x3B, 4, 0xFF, 0, 0, 0, 0, 1, 0, 0}, kOut, 256, 10000},
       1000},
      {"MoveToNrmlModeRW",
       [] { return MoveToNrmlModeRW(0x1004); },
       {{0x3B, 5, 0xFF, 0, 0, 0, 0, 1, 0, 0}, kOut, 256, 5000},
       5000},
      {"DiscStop: the transport's own limit",
       [] { return DiscStop(); },
       {{0x1B, 0, 0, 0, 0, 0}, kNone, 0, 60000},
       0},
      {"TEST UNIT READY after DiscStop",
       [] { return TestUnitReady(0); },
       {{0, 0, 0, 0, 0, 0}, kNone, 0, 60000},
       0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    size_t before = bed.m.log.size();
    EXPECT_EQ(s.call(), 0);
    ASSERT_EQ(bed.m.log.size(), before + 1);
    ExpectSent(bed.m.log.back(), s.sent);
    EXPECT_EQ(gTimeout, s.leaves);
  }
}

// --- Mode switches -------------------------------------------------------------------------

sim::RwConfig Model(uint32_t code, const std::string& kernelName = "KES_ADV ") {
  sim::RwConfig config;
  config.modelCode = code;
  config.kernelModel = kernelName;
  return config;
}

TEST(ModeSwitches, BothSucceedForEveryModelAndKernelNameWithNothingStaleInTheBlock) {
  const uint32_t models[] = {0x1003, 0x1004, 0x1005, 0x1041, 0x100D, 0x1048, 0x1007, 0x4002};
  const char* const kernels[] = {"FARDEL  ", "FARDEL2 ", "GENERAL ",
                                 "QUILL   ", "COMPO   ", "KES_ADV "};
  for (uint32_t model : models) {
    for (const char* kernel : kernels) {
      SCOPED_TRACE(testing::Message() << std::hex << model << " " << kernel);
      Bed bed;
      sim::RwConfig config = Model(model, kernel);
      config.strictReserved = true;  // refuses any byte after the signature and key
      sim::RwDrive& drive = bed.Rw(At::Letter, config);

      std::memset(pParam, 0xCC, kParamSizePt);  // what earlier commands left in the block
      ASSERT_EQ(MoveToKrnlModeRW(gModel), 0);
      EXPECT_TRUE(drive.InKernel());
      EXPECT_EQ(gTimeout, 1000u);

      std::memset(pParam, 0xCC, kParamSizePt);
      ASSERT_EQ(MoveToNrmlModeRW(gModel), 0);
      EXPECT_FALSE(drive.InKernel());
      EXPECT_EQ(gTimeout, 5000u);
      EXPECT_FALSE(bed.Shown(14) || bed.Shown(15));
    }
  }
}

TEST(ModeSwitches, DriveRefusesAWrongSignatureOrKeyAndTheSwitchSaysSo) {
  const struct {
    const char* what;
    sim::RwConfig drive;
    bool toKernel;
    int32_t model;       // what the switch is called with
    uint32_t keyOffset;  // added to the right base key
  } cases[] = {
      {"kernel: wrong key", Model(0x100D), true, 0x100D, 1},
      {"kernel: another model's signature", Model(0x1003), true, 0x1004, 0},
      {"kernel: a signature the drive has none of", Model(0x1234), true, 0x1003, 0},
      {"normal: wrong key", Model(0x1048, "QUILL   "), false, 0x1048, 0x100},
      {"normal: the kernel switch's signature", Model(0x1041), false, 0x1005, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    sim::RwDrive& drive = bed.Rw(At::Letter, c.drive);
    if (!c.toKernel) {
      ASSERT_EQ(MoveToKrnlModeRW(gModel), 0);
    }
    gRwKey += c.keyOffset;
    uint64_t slept = bed.m.slept;

    int rc = c.toKernel ? MoveToKrnlModeRW(c.model) : MoveToNrmlModeRW(c.model);
    EXPECT_EQ(rc, 2);
    GetErrInfo();
    EXPECT_EQ(gErr, 0x052600u);
    EXPECT_EQ(drive.InKernel(), !c.toKernel);  // no switch
    EXPECT_TRUE(bed.Shown(c.toKernel ? 14 : 15));
    EXPECT_EQ(gTimeout, c.toKernel ? 10000u : 5000u);
    EXPECT_EQ(bed.m.slept, slept);  // no settling time after a refusal
  }
}

TEST(ModeSwitches, KernelSwitchSettlesUnlessWindows98HasTheIntelDriver) {
  const struct {
    At at;
    bool intelStorageDriver;  // its registry key: on the pass-through path it changes nothing here
    uint64_t settle;
  } cases[] = {{At::Letter, false, 2000},
               {At::Letter, true, 2000},
               {At::Esdi, false, 2000},
               {At::IntelAta, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << Name(c.at) << " " << c.intelStorageDriver);
    Bed bed;
    if (c.intelStorageDriver)
      bed.m.registry["HKLM\\SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver"];
    sim::RwConfig config;
    config.latency.toKernel = 0;  // on the ASPI path the wait for completion is a sleep too
    sim::RwDrive& drive = bed.Rw(c.at, config);
    uint64_t slept = bed.m.slept;
    EXPECT_EQ(gIntel, c.intelStorageDriver || c.at == At::IntelAta ? 1 : 0);
    EXPECT_EQ(MoveToKrnlModeRW(gModel), 0);
    EXPECT_TRUE(drive.InKernel());
    EXPECT_EQ(bed.m.slept - slept, c.settle);
  }
}

// The switch back waits for the drive to check (and maybe re-flash) its firmware; how long it may
// take depends on the model and, for the rest, on how the drive is attached. A drive that answers
// within the limit passes; one that takes a millisecond longer is given up on.
TEST(ModeSwitches, SwitchBackTimeOutByModelAndAttachment) {
  const struct {
    At at;
    uint32_t model;
    uint32_t limitMs;
  } cases[] = {
      {At::Letter, 0x1005, 30000},
      {At::Letter, 0x1041, 30000},
      {At::Letter, 0x1006, 180000},
      {At::Letter, 0x100D, 180000},
      {At::Letter, 0x100E, 180000},
      {At::Letter, 0x100F, 5000},
      {At::Letter, 0x1042, 180000},
      {At::Letter, 0x1048, 180000},
      {At::Letter, 0x1049, 5000},
      {At::Letter, 0x4001, 60000},
      {At::Letter, 0x4003, 60000},
      {At::Letter, 0x4004, 5000},
      {At::Letter, 0x1003, 5000},
      {At::Letter, 0x1004, 5000},
      // The IEEE 1394 drive on the pass-through path gets the transport's limit whatever the
      // model, 0x1003's own 20 s included.
      {At::Letter1394, 0x1003, 60000},
      {At::Letter1394, 0x1004, 60000},
      {At::Esdi, 0x1004, 5000},
      {At::Esdi, 0x1003, 10000},
      {At::Esdi, 0x1005, 30000},
      {At::Esdi, 0x100D, 180000},
      {At::Esdi, 0x4002, 60000},
      {At::IntelAta, 0x1004, 5000},
      {At::Adapter1394, 0x1004, 10000},
      {At::Adapter1394, 0x1003, 10000},
      {At::Adapter1394, 0x1041, 30000},
  };
  for (const auto& c : cases) {
    for (uint32_t extra : {0u, 1u}) {
      SCOPED_TRACE(testing::Message() << Name(c.at) << " " << std::hex << c.model << std::dec
                                      << " answering after " << c.limitMs + extra << " ms");
      Bed bed;
      sim::RwConfig config = Model(c.model);
      // A drive in normal mode accepts the switch back and stays as it is.
      config.latency.toNormal = c.limitMs + extra;
      bed.Rw(c.at, config);
      int rc = MoveToNrmlModeRW(gModel);
      if (extra == 0) {
        EXPECT_EQ(rc, 0);
      } else {
        EXPECT_NE(rc, 0);
        EXPECT_TRUE(bed.Shown(15));
      }
      ASSERT_FALSE(bed.m.Sent({0x3B, 5}).empty());
      if (c.at == At::Letter || c.at == At::Letter1394) {
        EXPECT_EQ(bed.m.Sent({0x3B, 5}).front()->timeoutMs, c.limitMs);
      }
    }
  }
}

TEST(ModeSwitches, KnownHarmlessFailuresOfTheSwitchBackStillWaitAndPass) {
  const sim::Sense kNone{};
  const struct {
    const char* what;
    At at;
    int32_t oemId;
    sim::Sense failure;  // kNone: the switch succeeds
    bool passes;
    uint64_t slept;  // the settling wait, plus the 500 ms the polled ASPI submission sleeps
    bool testUnitReady;
  } cases[] = {
      {"OEM 0x300, success", At::Letter, 0x300, kNone, true, 5000, true},
      {"OEM 0x300, any failure", At::Letter, 0x300, sim::kInvalidField, true, 5000, true},
      {"OEM 0x300 on ASPI", At::Esdi, 0x300, sim::kInvalidField, false, 0, false},
      {"1394, unit attention", At::Letter1394, -1, sim::kPowerOnReset, true, 3000, false},
      {"1394, not ready", At::Letter1394, -1, sim::kBecomingReady, true, 3000, false},
      {"1394, illegal request", At::Letter1394, -1, sim::kInvalidParameter, false, 0, false},
      {"1394 adapter, unit attention", At::Adapter1394, -1, sim::kMediumChanged, true, 3500, false},
      {"no 1394, unit attention", At::Letter, -1, sim::kPowerOnReset, false, 0, false},
      {"no 1394, not ready", At::Esdi, -1, sim::kBecomingReady, false, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bed bed;
    sim::RwConfig config;
    config.latency.toNormal = 0;
    bed.Rw(c.at, config);
    gOemId = c.oemId;
    if (c.failure != kNone) {
      sim::Fault fault;
      fault.cdb = {0x3B, 5};
      fault.sense = c.failure;
      bed.m.faults = {fault};
    }
    uint64_t slept = bed.m.slept;
    int rc = MoveToNrmlModeRW(gModel);
    EXPECT_EQ(rc == 0, c.passes);
    EXPECT_EQ(bed.Shown(15), !c.passes);
    EXPECT_EQ(bed.m.slept - slept, c.slept);
    EXPECT_EQ(gTimeout, 5000u);
    EXPECT_EQ(bed.m.Sent({0x00}).size(), c.testUnitReady ? 1u : 0u);
    EXPECT_TRUE(bed.m.Sent({0x03}).empty());  // the sense came with the failure
  }
}

// A drive on IEEE 1394 that never answers the switch back has given no sense at all; what an
// earlier command (here the disc check) left behind must not excuse it.
TEST(ModeSwitches, SwitchBackThatRunsOutOfTimeIsNotExcusedByAnEarlierSense) {
  for (At at : {At::Letter1394, At::Adapter1394}) {
    SCOPED_TRACE(Name(at));
    Bed bed;
    sim::RwConfig config = Model(0x1004);
    config.latency.toNormal = 120000;  // past the 60 s and 10 s these attachments allow
    bed.Rw(at, config);
    ASSERT_NE(TestUnitReady(0), 0);  // no disc: not ready
    EXPECT_NE(MoveToNrmlModeRW(gModel), 0);
    EXPECT_TRUE(bed.Shown(15));
  }
}

TEST(RegionQuery, SchemeOneOnlyAndAFailedQueryGivesItsResult) {
  for (uint8_t scheme : {0, 1, 2}) {
    SCOPED_TRACE(static_cast<int>(scheme));
    Bed bed;
    sim::RwConfig config;
    config.rpcScheme = scheme;
    bed.Rw(At::Letter, config);
    EXPECT_EQ(GetDrvRgn(), scheme == 1 ? 0 : -1);
    EXPECT_EQ(bed.m.log.back().status, sim::kGood);
  }

  Bed bed;
  bed.Rw(At::Letter);
  sim::Fault fault;
  fault.cdb = {0xA4};
  fault.sense = sim::kInvalidOpcode;
  bed.m.faults = {fault};
  EXPECT_EQ(GetDrvRgn(), 2);
}

// Two drives in one run: the second answers the query with the reply's header only.
TEST(RegionQuery, ShortReplyIsNotJudgedByTheDriveBefore) {
  Bed bed;
  bed.m.AddAtLetter(test::MakeDrive(), 'D');
  bed.m.AddAtLetter(test::MakeDrive(), 'E');
  test::DriveAt(bed.m, 0).other = Bed::RpcReply(8);
  test::DriveAt(bed.m, 1).other = Bed::RpcReply(4);
  bed.Start(2);
  EXPECT_EQ(GetDrvRgn(), 0);
  gDevId = 1;
  EXPECT_EQ(GetDrvRgn(), -1);
}

}  // namespace
