// The drive command set as the drive receives it: CDBs, data phases and time-outs of every builder,
// the time-outs the vendor commands leave behind, and the mode switches and the region query
// against the virtual recordable drive on both Windows paths.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "commands/submod.h"
#include "common/global.h"
#include "driver/defdata.h"
#include "sim/rig.h"
#include "tests/support.h"
#include "tests/transport_drive.h"
#include "transport/cmdapi.h"

namespace {

// Where the drive under test sits.
enum class At {
  Letter,       // pass-through, behind a drive letter
  Letter1394,   // pass-through, an IEEE 1394 drive (its address query fails)
  Esdi,         // Windows 98, ASPI, on the IDE adapter
  IntelAta,     // Windows 98, ASPI, on the Intel IDE driver's adapter
  Adapter1394,  // Windows 98, ASPI, on the IEEE 1394 adapter
};
const char* const kAtNames[] = {"letter", "letter 1394", "ESDI_506", "intelata", "1394 adapter"};

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

  // `n` scripted drives behind D:, E:, ... that accept every command.
  void Scripted(int n = 1) {
    for (char letter = 'D'; letter < 'D' + n; ++letter)
      m.AddAtLetter(test::MakeDrive(), letter);
    Start(n);
  }

  bool Shown(int id) const { return m.console.find(test::En(id)) != std::string::npos; }

 private:
  bool started_ = false;
};

sim::RwConfig Model(uint32_t code, const std::string& kernelName = "KES_ADV ") {
  sim::RwConfig config;
  config.modelCode = code;
  config.kernelModel = kernelName;
  return config;
}

// The next command beginning with `cdb` fails with `sense`.
sim::Fault Failing(std::vector<int> cdb, const sim::Sense& sense) {
  sim::Fault fault;
  fault.cdb = std::move(cdb);
  fault.sense = sense;
  return fault;
}

constexpr sim::Dir kNone = sim::Dir::None;
constexpr sim::Dir kIn = sim::Dir::In;
constexpr sim::Dir kOut = sim::Dir::Out;
constexpr uint32_t kSame = 0xFFFFFFFF;

// A call and the one request it sends, as the log shows it (the time-out as the pass-through path
// sends it: whole seconds, 0 becomes 60 s); gTimeout is left as `leaves`, or as it was.
struct Step {
  std::function<int()> call;
  std::vector<uint8_t> cdb;
  sim::Dir dir;
  uint32_t length;
  uint32_t timeoutMs;
  uint32_t leaves = kSame;
};
void ExpectSteps(const sim::Machine& m, const std::vector<Step>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "step " << i);
    const Step& s = steps[i];
    size_t before = m.log.size();
    uint32_t timeout = gTimeout;
    EXPECT_EQ(s.call(), 0);
    ASSERT_EQ(m.log.size(), before + 1);
    EXPECT_EQ(m.log.back().cdb, s.cdb);
    EXPECT_EQ(m.log.back().dir, s.dir);
    EXPECT_EQ(m.log.back().length, s.length);
    EXPECT_EQ(m.log.back().timeoutMs, s.timeoutMs);
    EXPECT_EQ(gTimeout, s.leaves == kSame ? timeout : s.leaves);
  }
}

// The standard builders use gTimeout and never change it, and cut their fields to their width;
// the vendor commands set their time-outs or inherit the last one. The WRITE BUFFER, READ BUFFER
// and REPORT KEY requests of the vendor commands are the builders' own.
TEST(Commands, EachSendsItsCdbDataPhaseAndTimeOut) {
  Bed bed;
  bed.Scripted();
  gTimeout = 3000;
  const std::vector<uint8_t> kExecUpdate = {0x3B, 1, 0x42, 0, 0, 0, 0, 0, 0, 0};
  // clang-format off
  ExpectSteps(bed.m, {
      {[] { return TestUnitReady(0); }, {0, 0, 0, 0, 0, 0}, kNone, 0, 3000},
      {[] { return InqCmd(0, pBuff); }, {0x12, 0, 0, 0, 0x60, 0}, kIn, 96, 5000},
      {[] { return StartStopUnit(0, 3, 0x1F, 3, 2); }, {0x1B, 1, 0, 0, 0xF2, 0}, kNone, 0, 3000},
      {[] { return ReadBuffer(0, 2, 0xF1, 0, 48, gRwInfo); },
       {0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 0x30, 0}, kIn, 48, 3000},
      {[] { return ReportKey(0, 0x5A, 0x51, 6, 0x102, pBuff); },
       {0xA4, 0, 0, 0, 0, 0, 0, 0x5A, 1, 2, 0x91, 0}, kIn, 0x102, 3000},
      {[] { return ExecUpdate(); }, kExecUpdate, kNone, 0, 3000},
      {[] { return GetDrvRgn(); }, {0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 0}, kIn, 8, 3000},
      {[] { return EntExtMode(); }, {0x3B, 1, 0x30, 0, 0, 0, 0, 0, 0, 0}, kNone, 0, 1000, 1000},
      {[] { return HexXfer(0x12345, 0x8000, pText); },
       {0x3B, 1, 0xFF, 0x01, 0x23, 0x45, 0, 0x80, 0, 0}, kOut, 0x8000, 1000},
      {[] { return ExecUpdate(); }, kExecUpdate, kNone, 0, 1000},
      {[] { return RomXfer(0x0101C010, 0x100, pBuff); },
       {0x3C, 1, 0x80, 0x01, 0xC0, 0x10, 0, 1, 0, 0}, kIn, 256, 5000, 5000},
      {[] { return DownloadKernel(0x8000, 0x8000, pText); },
       {0x3B, 7, 0xFE, 0, 0x80, 0, 0, 0x80, 0, 0}, kOut, 0x8000, 20000, 20000},
      {[] { return DownloadNormal(0x1F8000, 0x8000, pText); },
       {0x3B, 7, 0xF0, 0x1F, 0x80, 0, 0, 0x80, 0, 0}, kOut, 0x8000, 20000, 20000},
      {[] { return MoveToKrnlModeRW(0x1003); },
       {0x3B, 4, 0xFF, 0, 0, 0, 0, 1, 0, 0}, kOut, 256, 10000, 1000},
      {[] { return MoveToNrmlModeRW(0x1004); },
       {0x3B, 5, 0xFF, 0, 0, 0, 0, 1, 0, 0}, kOut, 256, 5000, 5000},
      {[] { return DiscStop(); }, {0x1B, 0, 0, 0, 0, 0}, kNone, 0, 60000, 0},  // transport's own
      {[] { return TestUnitReady(0); }, {0, 0, 0, 0, 0, 0}, kNone, 0, 60000},
  });
  // clang-format on

  // Windows collects the sense with the failure: REQUEST SENSE goes out only where it does not.
  uint8_t sense[kSenseLen];
  std::memset(sense, 0xAB, sizeof sense);
  EXPECT_EQ(RequestSense(0, sense), 0);
  EXPECT_EQ(sense[0], 0xAB);
  gSendSense = 1;
  ExpectSteps(bed.m,
              {{[&] { return RequestSense(0, sense); }, {3, 0, 0, 0, 18, 0}, kIn, 18, 60000}});
}

// Each request on the pass-through path learns whether the current drive is the IEEE 1394 one (E:);
// the next request's time-out follows what the previous one learnt.
TEST(Commands, InquiryAndTheSwitchBackFollowTheIeee1394Drive) {
  Bed bed;
  bed.m.AddAtLetter(test::MakeDrive(), 'D');
  bed.m.AddAtLetter(test::MakeDrive(), 'E').ieee1394 = true;
  bed.Start(2);
  gTimeout = 3000;
  // Drive; 0 for INQUIRY, else the WRITE BUFFER mode; the time-out the drive sees. The first
  // mode 5 to E: goes out before anything has learnt that E: is the IEEE 1394 drive.
  // clang-format off
  for (auto [dev, mode, timeoutMs] : {std::tuple{1, 0, 5000u}, {0, 0, 1000u}, {1, 5, 3000u},
                                      {1, 5, 60000u}, {1, 4, 3000u}, {0, 5, 3000u}}) {
    // clang-format on
    gDevId = dev;  // the builders' callers always address the current drive
    int rc = mode == 0 ? InqCmd(dev, pBuff)
                       : WriteBuffer(dev, static_cast<uint8_t>(mode), 0xFF, 0, 256, pParam);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(bed.m.log.back().timeoutMs, timeoutMs) << dev << " " << mode;
  }
}

// --- Mode switches -------------------------------------------------------------------------

// The drive checks signature and key, and that every byte after them is zero. The key's low byte
// carries when 5 or 6 is added. The Intel storage driver's key changes nothing on the pass-through
// path: the kernel switch settles for 2000 ms.
TEST(ModeSwitches, BothSucceedForEveryModelAndKernelNameWithNothingStaleInTheBlock) {
  const uint32_t models[] = {0x1003, 0x1004, 0x1005, 0x1041, 0x100D, 0x1048, 0x1007, 0x4002};
  const char* const kernels[] = {"FARDEL  ", "FARDEL2 ", "GENERAL ", "GENERAL2",
                                 "QUILL   ", "COMPO   ", "KES_ADV "};
  for (uint32_t model : models) {
    for (const char* kernel : kernels) {
      SCOPED_TRACE(testing::Message() << std::hex << model << " " << kernel);
      Bed bed;
      bed.m.registry["HKLM\\SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver"];
      sim::RwConfig config = Model(model, kernel);
      config.strictReserved = true;
      config.modeKeyBase = 0x5B7E2DFE;
      sim::RwDrive& drive = bed.Rw(At::Letter, config);

      std::memset(pParam, 0xCC, kParamSizePt);  // what earlier commands left in the block
      uint64_t slept = bed.m.slept;
      ASSERT_EQ(MoveToKrnlModeRW(gModel), 0);
      EXPECT_TRUE(drive.InKernel());
      EXPECT_EQ(bed.m.slept - slept, 2000u);
      std::memset(pParam, 0xCC, kParamSizePt);
      ASSERT_EQ(MoveToNrmlModeRW(gModel), 0);
      EXPECT_FALSE(drive.InKernel());
      EXPECT_FALSE(bed.Shown(14) || bed.Shown(15));
    }
  }
}

// A refused switch shows its message, keeps its time-out and does not wait.
TEST(ModeSwitches, DriveRefusesAWrongSignatureOrKeyAndTheSwitchSaysSo) {
  // The drive, the switch, the model code it is called with, what is added to the right key.
  // clang-format off
  for (auto [config, toKernel, model, keyOffset] : {
           std::tuple{Model(0x100D), true, 0x100D, 1u},  // wrong key
           {Model(0x1003), true, 0x1004, 0u},              // another model's signature
           {Model(0x1234), true, 0x1003, 0u},              // a signature the drive has none of
           {Model(0x1048, "QUILL   "), false, 0x1048, 0x100u},  // wrong key
           {Model(0x1041), false, 0x1005, 0u}}) {          // the kernel switch's signature
    // clang-format on
    SCOPED_TRACE(testing::Message() << std::hex << model << " " << toKernel);
    Bed bed;
    sim::RwDrive& drive = bed.Rw(At::Letter, config);
    if (!toKernel) {
      ASSERT_EQ(MoveToKrnlModeRW(gModel), 0);
    }
    gRwKey += keyOffset;
    uint64_t slept = bed.m.slept;
    EXPECT_EQ(toKernel ? MoveToKrnlModeRW(model) : MoveToNrmlModeRW(model), 2);
    GetErrInfo();
    EXPECT_EQ(gErr, 0x052600u);
    EXPECT_EQ(drive.InKernel(), !toKernel);
    EXPECT_TRUE(bed.Shown(toKernel ? 14 : 15));
    EXPECT_EQ(gTimeout, toKernel ? 10000u : 5000u);
    EXPECT_EQ(bed.m.slept, slept);
  }
}

// The switch back waits for the drive to check (and maybe re-flash) its firmware; how long it may
// take depends on the model and, for the rest, on how the drive is attached. A drive that answers
// within the limit passes; one that takes a millisecond longer is given up on. The IEEE 1394 drive
// on the pass-through path gets the transport's limit whatever the model, 0x1003's own 20 s too.
TEST(ModeSwitches, SwitchBackTimeOutByModelAndAttachment) {
  // clang-format off
  for (auto [at, model, limitMs] : {
           std::tuple{At::Letter, 0x1041u, 30000u}, {At::Letter, 0x1042u, 180000u},
           {At::Letter, 0x100Eu, 180000u},  {At::Letter, 0x100Fu, 5000u},
           {At::Letter, 0x4003u, 60000u},   {At::Letter, 0x4004u, 5000u},
           {At::Letter, 0x1003u, 5000u},    {At::IntelAta, 0x1004u, 5000u},
           {At::Letter1394, 0x1003u, 60000u}, {At::Letter1394, 0x1004u, 60000u},
           {At::Esdi, 0x1003u, 10000u},     {At::Esdi, 0x100Du, 180000u},
           {At::Adapter1394, 0x1004u, 10000u}, {At::Adapter1394, 0x1041u, 30000u}}) {
    // clang-format on
    for (uint32_t extra : {0u, 1u}) {
      SCOPED_TRACE(testing::Message() << kAtNames[static_cast<int>(at)] << " " << std::hex << model
                                      << std::dec << " after " << limitMs + extra);
      Bed bed;
      sim::RwConfig config = Model(model);
      // A drive in normal mode accepts the switch back and stays as it is.
      config.latency.toNormal = limitMs + extra;
      bed.Rw(at, config);
      EXPECT_EQ(MoveToNrmlModeRW(gModel) == 0, extra == 0);
      EXPECT_EQ(bed.Shown(15), extra != 0);
    }
  }
}

// A failure the drive is known to give although it carried out the switch continues with the
// settling wait (5000 ms and TEST UNIT READY for OEM code 0x300, else 3000 ms, plus 500 ms of the
// polled ASPI submission) and passes; any other failure shows message 15 and does not wait.
TEST(ModeSwitches, KnownHarmlessFailuresOfTheSwitchBackStillWaitAndPass) {
  const sim::Sense kNone{};  // the switch succeeds
                             // clang-format off
  for (auto [at, oemId, failure, slept] : {
           std::tuple{At::Letter, 0x300, kNone, 5000u},
           {At::Letter, 0x300, sim::kInvalidField, 5000u},  // any failure, on the pass-through path
           {At::Esdi, 0x300, sim::kInvalidField, 0u},
           {At::Letter1394, -1, sim::kPowerOnReset, 3000u},
           {At::Letter1394, -1, sim::kBecomingReady, 3000u},
           {At::Letter1394, -1, sim::kInvalidParameter, 0u},
           {At::Adapter1394, -1, sim::kMediumChanged, 3500u},
           {At::Letter, -1, sim::kPowerOnReset, 0u},  // no IEEE 1394 adapter or drive known
           {At::Esdi, -1, sim::kBecomingReady, 0u}}) {
    // clang-format on
    SCOPED_TRACE(testing::Message()
                 << kAtNames[static_cast<int>(at)] << " " << oemId << " " << int{failure.key});
    Bed bed;
    sim::RwConfig config;
    config.latency.toNormal = 0;
    bed.Rw(at, config);
    gOemId = oemId;
    if (failure != kNone) bed.m.faults = {Failing({0x3B, 5}, failure)};
    uint64_t before = bed.m.slept;
    EXPECT_EQ(MoveToNrmlModeRW(gModel) == 0, slept != 0);
    EXPECT_EQ(bed.Shown(15), slept == 0);
    EXPECT_EQ(bed.m.slept - before, slept);
    EXPECT_EQ(gTimeout, 5000u);
    EXPECT_EQ(bed.m.Sent({0x00}).size(), slept == 5000 ? 1u : 0u);
    EXPECT_TRUE(bed.m.Sent({0x03}).empty());  // the sense came with the failure
  }
}

// A drive on IEEE 1394 that never answers the switch back has given no sense at all; what an
// earlier command (here the disc check) left behind must not excuse it.
TEST(ModeSwitches, SwitchBackThatRunsOutOfTimeIsNotExcusedByAnEarlierSense) {
  for (At at : {At::Letter1394, At::Adapter1394}) {
    SCOPED_TRACE(kAtNames[static_cast<int>(at)]);
    Bed bed;
    sim::RwConfig config = Model(0x1004);
    config.latency.toNormal = 120000;  // past the 60 s and 10 s these attachments allow
    bed.Rw(at, config);
    ASSERT_NE(TestUnitReady(0), 0);  // no disc: not ready
    EXPECT_NE(MoveToNrmlModeRW(gModel), 0);
    EXPECT_TRUE(bed.Shown(15));
  }
}

// Only RPC scheme 1 passes; a reply cut to its header is not judged by the drive queried before
// it; a failed query gives its result.
TEST(RegionQuery, SchemeOneOnlyAndAFailedQueryGivesItsResult) {
  Bed bed;
  bed.Scripted(4);
  test::DriveAt(bed.m, 1).rpcBytes = 4;
  test::DriveAt(bed.m, 2).rpc[6] = 0;
  test::DriveAt(bed.m, 3).rpc[6] = 2;
  for (auto [dev, rc] : {std::pair{0, 0}, {1, -1}, {2, -1}, {3, -1}}) {
    gDevId = dev;
    EXPECT_EQ(GetDrvRgn(), rc) << dev;
  }
  bed.m.faults = {Failing({0xA4}, sim::kInvalidOpcode)};
  EXPECT_EQ(GetDrvRgn(), 2);
}

}  // namespace
