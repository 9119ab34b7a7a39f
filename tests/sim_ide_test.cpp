// The IDE channels at register level, step by step through the ATAPI protocol: the PACKET
// command, data in and out in bursts (odd counts included), completion, errors with their sense,
// busy time, hung drives and empty channels.
#include <gtest/gtest.h>

#include <numeric>

#include "sim/ide.h"
#include "sim/rw_drive.h"
#include "tests/sim_cdb.h"

using namespace simtest;

namespace {

constexpr uint8_t kBsyDrqErr = sim::kAtaBsy | sim::kAtaDrq | sim::kAtaErr;

// The host side of one channel.
struct Host {
  sim::Machine& m;
  uint16_t base = 0x1F0;

  uint8_t In(int reg) { return m.PortIn8(static_cast<WORD>(base + reg)); }
  void Out(int reg, uint8_t v) { m.PortOut8(static_cast<WORD>(base + reg), v); }
  uint8_t Alt() { return m.PortIn8(static_cast<WORD>(base + 0x206)); }
  uint8_t Reason() { return In(2) & 0x03; }
  uint16_t Count() { return static_cast<uint16_t>(In(5) << 8 | In(4)); }
  void Select(int unit) { Out(6, static_cast<uint8_t>(0xA0 | unit << 4)); }
  bool Complete() { return !(Alt() & (sim::kAtaBsy | sim::kAtaDrq)) && Reason() == 3; }

  // PACKET with a byte count limit, then the 12 command bytes once the device asks for them.
  void Packet(const Bytes& cdb, uint16_t limit) {
    Out(4, static_cast<uint8_t>(limit));
    Out(5, static_cast<uint8_t>(limit >> 8));
    Out(7, sim::kAtaPacket);
    ASSERT_EQ(Alt() & 0x88, 0x08) << "the device asks for the packet";
    ASSERT_EQ(Reason(), sim::kIrrCoD);
    Bytes packet = cdb;
    packet.resize(12, 0);
    for (size_t i = 0; i < 12; i += 2)
      m.PortOut16(base, static_cast<WORD>(packet[i] | packet[i + 1] << 8));
  }
  // Sleeps a millisecond at a time until BSY clears; false if it never does.
  bool Wait(int ms = 100000) {
    for (int i = 0; i < ms; ++i, m.SleepMs(1))
      if (!(Alt() & sim::kAtaBsy)) return true;
    return false;
  }
  // One burst of the size the device asks for, from `data[at]`.
  void WriteBurst(const Bytes& data, size_t at) {
    for (uint16_t i = 0, n = Count(); i < n; i += 2)
      m.PortOut16(base, static_cast<WORD>(data[at + i] | (i + 1 < n ? data[at + i + 1] << 8 : 0)));
  }
  // Runs a data-in command to its end; the burst sizes in `bursts`.
  Bytes ReadAll(const Bytes& cdb, uint16_t limit, std::vector<int>* bursts = nullptr) {
    Packet(cdb, limit);
    Bytes all;
    while (Wait() && (Alt() & sim::kAtaDrq)) {
      EXPECT_EQ(Reason(), sim::kIrrIo);
      if (bursts != nullptr) bursts->push_back(Count());
      for (uint16_t i = 0, n = Count(); i < n; i += 2) {
        const WORD w = m.PortIn16(base);
        all.push_back(static_cast<uint8_t>(w));
        if (i + 1 < n) all.push_back(static_cast<uint8_t>(w >> 8));
        EXPECT_TRUE(i + 1 < n || w >> 8 == 0) << "the odd last byte comes alone";
      }
    }
    return all;
  }
};

Bytes SenseData(const sim::Sense& sense) {
  Bytes data(18);
  sim::FillSense(data.data(), sense);
  return data;
}

// Drives in their kernel, where they take image blocks; one as primary master.
class Ide : public ::testing::Test {
 protected:
  sim::RwDrive* Add(int ideId, const char* product = "DVD-RW  QXR-515L") {
    sim::RwConfig config;
    config.startInKernel = true;
    config.product = product;
    return static_cast<sim::RwDrive*>(
        m.AddOnIde(std::make_unique<sim::RwDrive>(config), ideId).drive.get());
  }
  void SetUp() override { h.Select(0); }
  sim::Machine m;
  sim::RwDrive* drive = Add(0);
  Host h{m};
};

TEST_F(Ide, EmptyChannelsAndAbsentDevicesFloat) {
  Host secondary{m, 0x170};
  EXPECT_EQ(secondary.Alt(), 0xFF);
  EXPECT_EQ(m.PortIn16(0x170), 0xFFFF);
  h.Select(1);
  EXPECT_EQ(h.In(7), 0xFF);
  h.Out(7, sim::kAtaPacket);  // a command to nobody changes nothing
  h.Select(0);
  EXPECT_EQ(h.In(7), sim::kAtaDrdy | sim::kAtaDsc);

  Add(3, "DVD-RW  QXR-515D");
  secondary.Select(1);
  EXPECT_EQ(Text(secondary.ReadAll(Inquiry(), 0x60), 16, 16), "DVD-RW  QXR-515D");
  ASSERT_EQ(m.log.size(), 1u);
  EXPECT_EQ(m.log[0].where, "ide3");
}

TEST_F(Ide, DataInComesInBurstsOfTheHostsLimitWithAnOddLastByteAlone) {
  std::vector<int> bursts;
  const Bytes all = h.ReadAll(Inquiry(0x25), 0x10, &bursts);
  EXPECT_EQ(bursts, (std::vector<int>{0x10, 0x10, 0x05}));
  EXPECT_TRUE(h.Complete());
  ASSERT_EQ(all.size(), 0x25u);
  EXPECT_EQ(Text(all, 8, 29), "KESTREL DVD-RW  QXR-515L0000 ");
}

TEST_F(Ide, DataOutIsCollectedBeforeTheDriveRunsIt) {
  Bytes data(0x25);
  std::iota(data.begin(), data.end(), 0x40);
  h.Packet(WriteBuffer(7, 0xF0, 0, 0x25), 0x10);
  for (size_t at : {0x00, 0x10, 0x20}) {
    ASSERT_EQ(h.Alt() & kBsyDrqErr, sim::kAtaDrq);
    ASSERT_EQ(h.Reason(), 0) << "data to the drive";
    ASSERT_EQ(h.Count(), at < 0x20 ? 0x10 : 0x05);
    EXPECT_TRUE(m.log.empty()) << "nothing reaches the drive before all data are in";
    h.WriteBurst(data, at);
  }
  // Busy for the drive's 120 ms even for a host that polls without sleeping.
  const DWORD sent = m.now;
  m.Advance(119);
  EXPECT_TRUE(h.Alt() & sim::kAtaBsy);
  for (long polls = 0; (h.Alt() & sim::kAtaBsy) && polls < 10000000; ++polls) {
  }
  EXPECT_TRUE(h.Complete());
  EXPECT_GE(m.now - sent, 120u) << "port accesses take time";
  EXPECT_EQ(drive->ReceivedNormal(), data);
}

TEST_F(Ide, ErrorsSetErrWithTheSenseKeyAndRequestSenseReportsThemOnce) {
  h.Out(7, 0xEC);  // commands other than PACKET are aborted
  EXPECT_EQ(h.In(7), sim::kAtaDrdy | sim::kAtaDsc | sim::kAtaErr);
  EXPECT_EQ(h.In(1), sim::kAtaAbrt);
  EXPECT_TRUE(m.log.empty());

  // The drive's own check condition, kept across a good command.
  EXPECT_TRUE(h.ReadAll({0xBB}, 0).empty());
  EXPECT_TRUE(h.Complete());
  EXPECT_EQ(h.In(7) & kBsyDrqErr, sim::kAtaErr);
  EXPECT_EQ(h.In(1), 0x54) << "sense key 5 and aborted";
  EXPECT_EQ(h.ReadAll(Inquiry(), 0x60).size(), 0x60u);
  EXPECT_EQ(h.In(7) & sim::kAtaErr, 0);
  EXPECT_EQ(h.ReadAll(RequestSense(), 18), SenseData(sim::kInvalidOpcode));

  // An injected one never reaches the drive: the channel keeps its sense.
  sim::Fault fault;
  fault.cdb = {0x12};
  fault.sense = {3, 0x11, 0x05};
  m.faults.push_back(fault);
  EXPECT_TRUE(h.ReadAll(Inquiry(), 0x60).empty());
  EXPECT_EQ(h.In(1), 0x34);
  EXPECT_EQ(h.ReadAll(RequestSense(), 18), SenseData(fault.sense));
  EXPECT_EQ(h.ReadAll(RequestSense(), 18), SenseData(sim::kNoSense)) << "reported once";
  EXPECT_TRUE(m.log.at(3).faulted);
}

TEST_F(Ide, HungDriveStaysBusyUntilReset) {
  sim::Fault fault;
  fault.kind = sim::Fault::Kind::Timeout;
  fault.cdb = {0x12};
  m.faults.push_back(fault);
  h.Packet(Inquiry(), 0x60);
  EXPECT_FALSE(h.Wait(60000));
  h.Out(7, sim::kAtaDeviceReset);
  EXPECT_EQ(h.Alt() & sim::kAtaBsy, 0);
  EXPECT_EQ(h.ReadAll(Inquiry(), 0x60).size(), 0x60u);
}

}  // namespace
