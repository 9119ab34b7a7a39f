// Execution of one request on both paths: limits, directions, polling, sense data, the Intel
// driver's tolerance, requests left running, and the failures that must not pass for success.
#include <gtest/gtest.h>

#include "tests/transport_drive.h"

namespace {

using test::Irp;
using test::MakeDrive;
using test::TransportTest;

// Every command but INQUIRY and the drive information read ends as `fail` says for the opcodes
// given, and takes `latency` ms.
void Script(test::ScriptedDrive& d, std::initializer_list<uint8_t> failing, sim::Sense fail,
            uint32_t latency = 0) {
  std::vector<uint8_t> ops(failing);
  d.other = [ops, fail, latency](const sim::Command& c) {
    sim::Result r;
    r.latencyMs = latency;
    for (uint8_t op : ops) {
      if (c.cdb[0] == op) {
        r.status = sim::kCheckCondition;
        r.sense = fail;
      }
    }
    return r;
  };
}

class PassThroughTest : public TransportTest {
 protected:
  void SetUp() override {
    m.AddAtLetter(MakeDrive(), 'D');
    Start();
    ASSERT_EQ(gDevn, 1);
  }
  test::ScriptedDrive& drive() { return test::DriveAt(m, 0); }
};

class AspiTest : public TransportTest {
 protected:
  // One drive as target 0 on adapter `ha` of the given adapters.
  void Open(std::vector<sim::Adapter> adapters, int ha) {
    test::UseWindows98(m);
    m.adapters = std::move(adapters);
    m.AddOnAdapter(MakeDrive(), ha, 0);
    Start();
    ASSERT_EQ(gDevn, 1);
  }
  test::ScriptedDrive& drive() { return test::DriveAt(m, 0); }
};

TEST_F(PassThroughTest, RequestsOutsideTheListOrMalformedAreRefusedUnsent) {
  uint8_t buf[8];
  size_t sent = m.log.size();
  TagCmdIrp irp = Irp({0x00, 0, 0, 0, 0, 0});
  irp.devNo = gDevn;
  EXPECT_EQ(ExecCmdApi(&irp), -1);
  irp.devNo = -1;
  EXPECT_EQ(ExecCmdApi(&irp), -1);
  TagCmdIrp negative = Irp({0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 8, 0}, kDirIn, buf, -8);
  EXPECT_EQ(ExecCmdApi(&negative), -1);
  TagCmdIrp noBuffer = Irp({0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 8, 0}, kDirIn, nullptr, 8);
  EXPECT_EQ(ExecCmdApi(&noBuffer), -1);
  EXPECT_EQ(ExecCmdApi(nullptr), -1);
  EXPECT_EQ(m.log.size(), sent);
}

TEST_F(PassThroughTest, TimeOutTravelsInWholeSecondsWithSixtyForNone) {
  for (auto [ms, sent] : {std::pair{1500, 1000u}, {0, 60000u}, {5000, 5000u}}) {
    TagCmdIrp irp = Irp({0x00, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, ms);
    EXPECT_EQ(ExecCmdApi(&irp), 0);
    EXPECT_EQ(m.log.back().timeoutMs, sent) << ms;
  }
}

TEST(Execution, DataInSynonymBehavesAsDataInOnBothPaths) {
  for (bool aspi : {false, true}) {
    sim::Machine m;
    if (aspi) {
      test::UseWindows98(m);
      m.adapters = {{"ESDI_506"}};
      m.AddOnAdapter(MakeDrive(), 0, 0);
    } else {
      m.AddAtLetter(MakeDrive(), 'D');
    }
    test::Fresh(m);
    SetDefData();
    InitCmdApi();
    ASSERT_EQ(EnumDevice(), 1);
    for (int32_t dir : {kDirIn, kDirIn2}) {
      uint8_t buf[48] = {};
      TagCmdIrp irp = Irp({0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 48, 0}, dir, buf, 48);
      EXPECT_EQ(ExecCmdApi(&irp), 0);
      EXPECT_EQ(m.log.back().dir, sim::Dir::In);
      EXPECT_EQ(m.log.back().length, 48u);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 32, 8), "KES_ADV ") << aspi << dir;
    }
    EndCmdApi();
  }
}

TEST_F(PassThroughTest, FailedCommandLeavesItsSenseUntilTheNextFailure) {
  Script(drive(), {0x3B}, sim::kInvalidField);
  TagCmdIrp wb = Irp({0x3B, 0x04, 0xFF, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(ExecCmdApi(&wb), 2);
  EXPECT_EQ(gStatus, 2);
  EXPECT_EQ(gSns[0], 0x70);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x52400u);

  TagCmdIrp tur = Irp({0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(ExecCmdApi(&tur), 0);
  EXPECT_EQ(gStatus, 0);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x52400u);
}

TEST_F(AspiTest, IntelDriverToleratesNotReadyButNotForTestUnitReady) {
  Open({{"intelata"}}, 0);
  Script(drive(), {0x1B, 0x00, 0x3B}, sim::kBecomingReady);
  TagCmdIrp stop = Irp({0x1B, 0, 0, 0, 0, 0});
  EXPECT_EQ(ExecCmdApi(&stop), 0);
  TagCmdIrp tur = Irp({0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(ExecCmdApi(&tur), -1);
  EXPECT_EQ(gErr, 0x20401u);
  Script(drive(), {0x1B}, sim::kInvalidField);
  EXPECT_EQ(ExecCmdApi(&stop), -1);
}

TEST_F(AspiTest, WithoutTheIntelDriverNotReadyIsAFailureWithItsSense) {
  Open({{"ESDI_506"}}, 0);
  Script(drive(), {0x1B}, sim::kBecomingReady);
  TagCmdIrp stop = Irp({0x1B, 0, 0, 0, 0, 0});
  EXPECT_EQ(ExecCmdApi(&stop), -1);
  EXPECT_EQ(gErr, 0x20401u);  // decoded already
  EXPECT_EQ(gSns[0], 0x70);
}

TEST_F(AspiTest, EventWaitHonoursTheTimeOutOrWaitsWithoutLimit) {
  Open({{"ESDI_506"}}, 0);
  Script(drive(), {}, {}, 3000);
  TagCmdIrp stop = Irp({0x1B, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, 5000);
  DWORD t0 = m.now;
  EXPECT_EQ(ExecCmdApi(&stop), 0);
  EXPECT_EQ(m.now - t0, 3000u);

  stop.timeout = 2000;
  t0 = m.now;
  EXPECT_EQ(ExecCmdApi(&stop), -2);
  EXPECT_EQ(m.now - t0, 2000u);

  stop.timeout = 0;  // no limit
  t0 = m.now;
  EXPECT_EQ(ExecCmdApi(&stop), 0);
  EXPECT_EQ(m.now - t0, 3000u);

  gOemId = 0x300;  // these drives are always waited for
  stop.timeout = 1000;
  EXPECT_EQ(ExecCmdApi(&stop), 0);
}

TEST_F(AspiTest, WriteBufferThroughTheIeee1394AdapterIsPolledTimeOutFirst) {
  Open({{"ESDI_506"}, {""}}, 1);
  ASSERT_EQ(gIEEE, 1);
  uint8_t data[4] = {1, 2, 3, 4};
  TagCmdIrp wb = Irp({0x3B, 0x05, 0, 0, 0, 0, 0, 0, 4, 0}, kDirOut2, data, 4, 1000);

  Script(drive(), {}, {}, 1000);  // done by the second pass
  uint64_t slept = m.slept;
  EXPECT_EQ(ExecCmdApi(&wb), 0);
  EXPECT_EQ(m.slept - slept, 1000u);
  EXPECT_EQ(m.log.back().dir, sim::Dir::Out);

  Script(drive(), {}, {}, 1200);  // done during the third pass, which ends on the time-out
  slept = m.slept;
  EXPECT_EQ(ExecCmdApi(&wb), -1);
  EXPECT_EQ(m.slept - slept, 1500u);

  // Any other command on that adapter waits for its event.
  Script(drive(), {}, {}, 100);
  TagCmdIrp stop = Irp({0x1B, 0, 0, 0, 0, 0});
  DWORD t0 = m.now;
  EXPECT_EQ(ExecCmdApi(&stop), 0);
  EXPECT_EQ(m.now - t0, 100u);
  EXPECT_EQ(m.aspiOverlaps, 0);
}

TEST_F(AspiTest, ModeFiveWriteBufferOfModel1003IsPolled) {
  Open({{"ESDI_506"}}, 0);
  gModel = 0x1003;
  Script(drive(), {}, {}, 100);
  TagCmdIrp wb = Irp({0x3B, 0x05, 0, 0, 0, 0, 0, 0, 0, 0});
  uint64_t slept = m.slept;
  EXPECT_EQ(ExecCmdApi(&wb), 0);
  EXPECT_EQ(m.slept - slept, 500u);
  wb.cdb[1] = 4;  // other modes wait for the event
  DWORD t0 = m.now;
  EXPECT_EQ(ExecCmdApi(&wb), 0);
  EXPECT_EQ(m.now - t0, 100u);
}

TEST_F(AspiTest, RequestLeftRunningIsFollowedByChkCmdDone) {
  Open({{"ESDI_506"}}, 0);
  Script(drive(), {0x1B}, sim::kInvalidField, 3000);
  for (uint8_t op : {0x3B, 0x1B}) {
    gNoWait = 1;
    TagCmdIrp irp = Irp({op, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, 0);
    DWORD t0 = m.now;
    EXPECT_EQ(ExecCmdApi(&irp), 0);
    EXPECT_EQ(m.now, t0);
    EXPECT_EQ(ChkCmdDone(), 1);
    EXPECT_EQ(gNoWait, 0);
    Sleep(1000);
    EXPECT_EQ(ChkCmdDone(), 1);
    Sleep(2000);
    EXPECT_EQ(ChkCmdDone(), op == 0x3B ? 0 : -1);
  }
  EXPECT_EQ(m.aspiAborts, 0);
  EXPECT_EQ(m.aspiClosedPending, 0);
}

TEST_F(TransportTest, WaitTimeSleepsExactlyTheTimeAskedFor) {
  test::Fresh(m);
  WaitTime(0);
  EXPECT_EQ(m.slept, 0u);
  WaitTime(2000);
  EXPECT_EQ(m.slept, 2000u);
  m.now = 0xFFFFFF00u;  // across the timer's wrap
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

TEST(PassThroughSense, NeverMoreThanEighteenBytesAndNothingStaleBehindAShortOne) {
  OverstatingMachine m;
  m.AddAtLetter(MakeDrive(), 'D');
  test::Fresh(m);
  SetDefData();
  InitCmdApi();
  ASSERT_EQ(EnumDevice(), 1);
  Script(test::DriveAt(m, 0), {0x3B}, sim::kInvalidField);
  TagCmdIrp wb = Irp({0x3B, 0x04, 0xFF, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(ExecCmdApi(&wb), 2);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x52400u);
  EXPECT_EQ(gSns[17], 0);

  Script(test::DriveAt(m, 0), {0x3B}, sim::kNoMedium);
  m.claimed = 8;  // fixed header only: no ASC, no qualifier
  EXPECT_EQ(ExecCmdApi(&wb), 2);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x20000u);
  EndCmdApi();
  m.Uninstall();
}

TEST_F(PassThroughTest, UnreachableDriveIsAFailureThatDoesNotLookLikeNotReady) {
  Script(drive(), {0x1B}, sim::kNoMedium);
  TagCmdIrp stop = Irp({0x1B, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, 5000);
  EXPECT_EQ(ExecCmdApi(&stop), 2);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x23A00u);

  // The request times out in the system.
  sim::Fault hang;
  hang.kind = sim::Fault::Kind::Timeout;
  m.faults = {hang};
  DWORD t0 = m.now;
  EXPECT_EQ(ExecCmdApi(&stop), -2);
  EXPECT_EQ(m.now - t0, 5000u);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x0B0800u);

  // The drive leaves the bus during a request.
  m.faults.clear();
  EXPECT_EQ(ExecCmdApi(&stop), 2);
  sim::Fault gone;
  gone.kind = sim::Fault::Kind::Vanish;
  m.faults = {gone};
  EXPECT_EQ(ExecCmdApi(&stop), -2);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x0B0800u);

  // It cannot be opened any more: an earlier NOT READY is not what the caller is told.
  m.faults.clear();
  m.slots[0].present = true;
  EXPECT_EQ(ExecCmdApi(&stop), 2);
  m.slots[0].present = false;
  EXPECT_EQ(ExecCmdApi(&stop), -2);
  GetErrInfo();
  EXPECT_EQ(gErr, 0x0B0800u);
  EXPECT_EQ(gSns[0], 0x70);
  EXPECT_EQ(gDrvHandle, nullptr);
}

TEST_F(AspiTest, AbandonedRequestIsAbortedBeforeTheBlockIsUsedAgain) {
  Open({{"ESDI_506"}, {""}}, 1);
  sim::Fault hang;
  hang.kind = sim::Fault::Kind::Timeout;
  hang.cdb = {0x1B};
  m.faults = {hang};

  TagCmdIrp stop = Irp({0x1B, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, 2000);
  EXPECT_EQ(ExecCmdApi(&stop), -2);  // event path
  uint8_t buf[48];
  TagCmdIrp read = Irp({0x3C, 2, 0xF1, 0, 0, 0, 0, 0, 48, 0}, kDirIn, buf, 48);
  EXPECT_EQ(ExecCmdApi(&read), 0);
  EXPECT_EQ(m.aspiAborts, 1);

  hang.cdb = {0x3B};
  m.faults = {hang};
  TagCmdIrp wb = Irp({0x3B, 0x05, 0, 0, 0, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, 1000);
  EXPECT_EQ(ExecCmdApi(&wb), -1);  // polled path
  EXPECT_EQ(ExecCmdApi(&read), 0);
  EXPECT_EQ(m.aspiAborts, 2);

  stop.timeout = 0;  // no limit, and the drive never answers: the wait gives up
  hang.cdb = {0x1B};
  m.faults = {hang};
  EXPECT_EQ(ExecCmdApi(&stop), -2);
  EXPECT_EQ(ExecCmdApi(&read), 0);
  EXPECT_EQ(m.aspiAborts, 3);

  EXPECT_EQ(m.aspiOverlaps, 0);
  EXPECT_EQ(m.aspiClosedPending, 0);
}

TEST_F(AspiTest, RequestThatNeverCompletedDoesNotInheritAnEarlierSense) {
  Open({{"ESDI_506"}, {""}}, 1);
  Script(drive(), {0x00}, sim::kNoMedium);
  TagCmdIrp tur = Irp({0x00, 0, 0, 0, 0, 0});
  EXPECT_EQ(ExecCmdApi(&tur), -1);
  GetErrInfo();
  ASSERT_EQ(gErr, 0x23A00u);

  sim::Fault hang;
  hang.kind = sim::Fault::Kind::Timeout;
  m.faults = {hang};
  TagCmdIrp stop = Irp({0x1B, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, 2000);
  EXPECT_EQ(ExecCmdApi(&stop), -2);  // the event never came
  GetErrInfo();
  EXPECT_EQ(gErr, 0x0B0800u);

  m.faults.clear();
  EXPECT_EQ(ExecCmdApi(&tur), -1);
  m.faults = {hang};
  TagCmdIrp wb = Irp({0x3B, 0x05, 0, 0, 0, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, 1000);
  EXPECT_EQ(ExecCmdApi(&wb), -1);  // the polling ran out of time
  GetErrInfo();
  EXPECT_EQ(gErr, 0x0B0800u);
}

TEST_F(AspiTest, ShutdownTakesBackARequestStillRunning) {
  Open({{"ESDI_506"}}, 0);
  Script(drive(), {}, {}, 60000);
  gNoWait = 1;
  TagCmdIrp irp = Irp({0x3B, 0x06, 0, 0, 0, 0, 0, 0, 0, 0}, kDirNone, nullptr, 0, 0);
  EXPECT_EQ(ExecCmdApi(&irp), 0);
  EndCmdApi();
  EXPECT_EQ(m.aspiAborts, 1);
  EXPECT_EQ(m.aspiFreedPending, 0);
  EXPECT_EQ(m.aspiClosedPending, 0);
  Sleep(60000);  // nothing completes into freed memory
}

}  // namespace
