// Execution of one request on both paths: limits, directions, polling, sense data, the Intel
// driver's tolerance, requests left running, and the failures that must not pass for success.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "tests/transport_drive.h"

namespace {

using Exec = test::TransportTest;

// Requests as the builders make them, on target 0: TEST UNIT READY (0) or START STOP UNIT (0x1B),
// WRITE BUFFER without data, the drive information read.
TagCmdIrp Op(uint8_t op, int32_t timeout = 1000) {
  return {0, kDirNone, 6, timeout, 0, nullptr, {op}};
}
TagCmdIrp Wb(uint8_t mode, int32_t timeout = 1000) {
  return {0, kDirNone, 10, timeout, 0, nullptr, {0x3B, mode, 0xFF}};
}
TagCmdIrp Info(uint8_t* buf, int32_t dir = kDirIn) {
  return {0, dir, 10, 1000, 48, buf, {0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 48}};
}
// The next command with this opcode (any: -1) is never answered.
sim::Fault Hang(int opcode = -1) {
  sim::Fault f;
  f.kind = sim::Fault::Kind::Timeout;
  f.cdb = {opcode};
  return f;
}

// Requests outside the list or malformed are refused unsent; the time-out travels in whole seconds,
// with 60 for none.
TEST_F(Exec, PassThroughRefusalsAndTimeOuts) {
  Open();
  uint8_t buf[48];
  TagCmdIrp beyond = Op(0), negative = Op(0), badLength = Info(buf), noBuffer = Info(nullptr);
  beyond.devNo = gDevn;
  negative.devNo = -1;
  badLength.xferLen = -8;
  for (TagCmdIrp* irp :
       {&beyond, &negative, &badLength, &noBuffer, static_cast<TagCmdIrp*>(nullptr)})
    EXPECT_EQ(ExecCmdApi(irp), -1);
  EXPECT_TRUE(m.log.empty());
  for (auto [ms, sent] : {std::pair{1500, 1000u}, {0, 60000u}, {5000, 5000u}}) {
    TagCmdIrp irp = Op(0, ms);
    EXPECT_EQ(ExecCmdApi(&irp), 0);
    EXPECT_EQ(m.log.back().timeoutMs, sent) << ms;
  }
}

TEST_F(Exec, DataInSynonymBehavesAsDataInOnBothPaths) {
  for (bool aspi : {false, true}) {
    Open(aspi ? std::vector<sim::Adapter>{{"ESDI_506"}} : std::vector<sim::Adapter>{});
    for (int32_t dir : {kDirIn, kDirIn2}) {
      uint8_t buf[48] = {};
      TagCmdIrp irp = Info(buf, dir);
      EXPECT_EQ(ExecCmdApi(&irp), 0);
      EXPECT_EQ(m.log.back().dir, sim::Dir::In);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 32, 8), "KES_ADV ") << aspi << dir;
    }
  }
}

// NOT READY passes with the Intel IDE driver, except for TEST UNIT READY, whose purpose is to
// tell it; any other failure, and NOT READY without that driver, fails with its sense decoded.
TEST_F(Exec, IntelDriverToleratesNotReadyButNotForTestUnitReady) {
  for (auto [adapter, tolerated] : {std::pair{"intelata", true}, {"ESDI_506", false}}) {
    test::ScriptedDrive& d = Open({{adapter}});
    d.failing = {0x1B, 0x00};
    d.fail = sim::kBecomingReady;
    TagCmdIrp stop = Op(0x1B), tur = Op(0);
    EXPECT_EQ(ExecCmdApi(&stop), tolerated ? 0 : -1) << adapter;
    EXPECT_EQ(ExecCmdApi(&tur), -1);
    EXPECT_EQ(gErr, 0x20401u);
    d.fail = sim::kInvalidField;
    EXPECT_EQ(ExecCmdApi(&stop), -1);
  }
}

// Time-out 0, or a drive with OEM code 0x300, is waited for without limit.
TEST_F(Exec, AspiWaitHonoursTheTimeOutOrWaitsWithoutLimit) {
  Open({{"ESDI_506"}}).latencyMs = 3000;
  // clang-format off
  for (auto [timeout, oemId, rc, took] :
       {std::tuple{5000, 0, 0, 3000u}, {2000, 0, -2, 2000u}, {0, 0, 0, 3000u},
        {1000, 0x300, 0, 3000u}}) {
    // clang-format on
    gOemId = oemId;
    TagCmdIrp stop = Op(0x1B, timeout);
    DWORD t0 = m.now;
    EXPECT_EQ(ExecCmdApi(&stop), rc) << timeout;
    EXPECT_EQ(m.now - t0, took) << timeout;
  }
}

// WRITE BUFFER through the IEEE 1394 adapter (1), and the mode-5 one of model 0x1003, are polled
// every 500 ms with the time-out judged first: done by the second pass it passes, done during the
// third, which ends on the time-out of 1000 ms, it fails. Other requests wait for their event.
TEST_F(Exec, WriteBufferIsPolledThroughTheIeee1394AdapterAndForModel1003) {
  // clang-format off
  for (auto [ha, model, mode, latency, rc, took] : {
           std::tuple{1, 0, uint8_t{4}, 1000u, 0, 1000u}, {1, 0, 5, 1200u, -1, 1500u},
           {0, 0x1003, 5, 100u, 0, 500u}, {0, 0x1003, 4, 100u, 0, 100u}, {0, 0, 5, 100u, 0, 100u}}) {
    // clang-format on
    Open({{"ESDI_506"}, {""}}, ha).latencyMs = latency;
    gModel = model;
    uint8_t data[4] = {1, 2, 3, 4};
    TagCmdIrp wb = {0, kDirOut2, 10, 1000, 4, data, {0x3B, mode, 0, 0, 0, 0, 0, 0, 4}};
    DWORD t0 = m.now;
    EXPECT_EQ(ExecCmdApi(&wb), rc) << ha << " " << model << " " << int{mode};
    EXPECT_EQ(m.now - t0, took);
    EXPECT_EQ(m.log.back().dir, sim::Dir::Out);
  }
}

TEST_F(Exec, RequestLeftRunningIsFollowedByChkCmdDoneOrTakenBackAtShutdown) {
  test::ScriptedDrive& d = Open({{"ESDI_506"}});
  d.latencyMs = 3000;
  d.failing = {0x1B};
  d.fail = sim::kInvalidField;
  for (uint8_t op : {0x3B, 0x1B, 0x00}) {
    gNoWait = 1;
    TagCmdIrp irp = Op(op, 0);
    DWORD t0 = m.now;
    EXPECT_EQ(ExecCmdApi(&irp), 0);
    EXPECT_EQ(m.now, t0);
    if (op == 0x00) break;  // left running at the end of the run
    EXPECT_EQ(ChkCmdDone(), 1);
    EXPECT_EQ(gNoWait, 0);
    Sleep(1000);
    EXPECT_EQ(ChkCmdDone(), 1);
    Sleep(2000);
    EXPECT_EQ(ChkCmdDone(), op == 0x3B ? 0 : -1);
  }
  EXPECT_EQ(m.aspiAborts, 0);
  EndCmdApi();
  EXPECT_EQ(m.aspiAborts, 1);
  EXPECT_EQ(m.aspiFreedPending, 0);
  EXPECT_EQ(m.aspiClosedPending, 0);
  Sleep(5000);  // nothing completes into freed memory
}

TEST_F(Exec, WaitTimeSleepsExactlyTheTimeAskedForAcrossTheTimersWrap) {
  test::Fresh(m);
  WaitTime(0);
  EXPECT_EQ(m.slept, 0u);
  m.now = 0xFFFFFF00u;
  WaitTime(1000);
  EXPECT_EQ(m.now, 1000u - 0x100u);
}

// --- Failures that must not pass for success --------------------------------------------------

// A port driver that claims the whole sense area, and more, as sense data.
class OverstatingMachine : public sim::Machine {
 public:
  UCHAR claimed = 255;
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                       DWORD outBytes, LPDWORD returned) override {
    BOOL ok = Machine::DeviceIoControl(device, code, in, inBytes, out, outBytes, returned);
    auto* block = static_cast<TagSptdBlock*>(out);
    if (ok && code == IOCTL_SCSI_PASS_THROUGH_DIRECT && block->sptd.ScsiStatus != 0) {
      std::memset(block->sense + 18, 0xEE, sizeof block->sense - 18);
      block->sptd.SenseInfoLength = claimed;
    }
    return ok;
  }
};

// The sense of a failure stays until the next failure; never more than 18 bytes of it are taken,
// and a short one leaves nothing of an earlier one behind.
using PassThroughSense = test::TransportTestOf<OverstatingMachine>;
TEST_F(PassThroughSense, BoundedKeptAndNothingStaleBehindAShortOne) {
  test::ScriptedDrive& d = Open();
  d.failing = {0x3B};
  d.fail = sim::kInvalidField;
  TagCmdIrp wb = Wb(4), tur = Op(0);
  EXPECT_EQ(ExecCmdApi(&wb), 2);
  EXPECT_EQ(ExecCmdApi(&tur), 0);
  EXPECT_EQ(gStatus, 0);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x52400u);

  d.fail = sim::kNoMedium;
  m.claimed = 8;  // fixed header only: no ASC, no qualifier
  EXPECT_EQ(ExecCmdApi(&wb), 2);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x20000u);
}

// After a NOT READY, a request that never completes or a drive that cannot be opened any more is a
// failure with the sense of an unreachable drive, not the earlier NOT READY.
TEST_F(Exec, UnreachableDriveIsAFailureThatDoesNotLookLikeNotReady) {
  test::ScriptedDrive& d = Open();
  d.failing = {0x1B};
  d.fail = sim::kNoMedium;
  TagCmdIrp stop = Op(0x1B, 5000);
  const std::function<void()> cuts[] = {[&] { m.faults = {Hang()}; },
                                        [&] { m.slots[0].present = false; }};
  for (const auto& cut : cuts) {
    ASSERT_EQ(ExecCmdApi(&stop), 2);
    cut();
    EXPECT_EQ(ExecCmdApi(&stop), -2);
    GetErrInfo();
    EXPECT_EQ(gErr, 0x0B0800u);
    m.faults.clear();
    m.slots[0].present = true;
  }
  EXPECT_EQ(gDrvHandle, nullptr);
}

// A request that ran out of time stays with the layer: it is aborted before the block is used
// again, and it carries the unreachable drive's sense rather than an earlier NOT READY.
TEST_F(Exec, AbandonedAspiRequestIsAbortedAndCarriesNoEarlierSense) {
  test::ScriptedDrive& d = Open({{"ESDI_506"}, {""}}, 1);
  d.failing = {0x00};
  d.fail = sim::kNoMedium;
  uint8_t buf[48];
  TagCmdIrp tur = Op(0), read = Info(buf);
  int aborts = 0;
  // The event never came; the polling ran out of time; no limit, but the wait gives up on a drive
  // that never answers.
  for (auto [irp, rc] : {std::pair{Op(0x1B, 2000), -2}, {Wb(5, 1000), -1}, {Op(0x1B, 0), -2}}) {
    EXPECT_EQ(ExecCmdApi(&tur), -1);
    m.faults = {Hang(irp.cdb[0])};
    EXPECT_EQ(ExecCmdApi(&irp), rc);
    GetErrInfo();
    EXPECT_EQ(gErr, 0x0B0800u);
    EXPECT_EQ(ExecCmdApi(&read), 0);
    EXPECT_EQ(m.aspiAborts, ++aborts);
  }
  EXPECT_EQ(m.aspiOverlaps, 0);
  EXPECT_EQ(m.aspiClosedPending, 0);
}

}  // namespace
