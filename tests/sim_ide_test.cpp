// The IDE channels at register level, step by step through the ATAPI protocol: the PACKET
// command, data in and out in bursts (odd counts included), completion, errors with their sense,
// busy time, hung drives and empty channels.
#include <gtest/gtest.h>

#include "sim/ide.h"
#include "sim/rw_drive.h"
#include "tests/sim_cdb.h"

using namespace simtest;

namespace {

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

  // PACKET with a byte count limit, then the 12 command bytes once the device asks for them.
  void Packet(const Bytes& cdb, uint16_t limit) {
    Out(4, static_cast<uint8_t>(limit));
    Out(5, static_cast<uint8_t>(limit >> 8));
    Out(7, 0xA0);
    ASSERT_EQ(Alt() & 0x88, 0x08) << "the device asks for the packet";
    ASSERT_EQ(Reason(), sim::kIrrCoD);
    Bytes packet = cdb;
    packet.resize(12, 0);
    for (size_t i = 0; i < 12; i += 2)
      m.PortOut16(base, static_cast<WORD>(packet[i] | packet[i + 1] << 8));
  }
  // Sleeps a millisecond at a time until BSY clears; false if it never does.
  bool Wait(int ms = 100000) {
    for (int i = 0; i < ms; ++i) {
      if (!(Alt() & sim::kAtaBsy)) return true;
      m.SleepMs(1);
    }
    return false;
  }
  // One data-in burst of the size the device offers.
  Bytes ReadBurst() {
    const uint16_t n = Count();
    Bytes out;
    for (uint16_t i = 0; i < n; i += 2) {
      WORD w = m.PortIn16(base);
      out.push_back(static_cast<uint8_t>(w));
      if (i + 1 < n) {
        out.push_back(static_cast<uint8_t>(w >> 8));
      } else {
        EXPECT_EQ(w >> 8, 0) << "the odd last byte comes alone";
      }
    }
    return out;
  }
  void WriteBurst(const Bytes& data, size_t at) {
    const uint16_t n = Count();
    for (uint16_t i = 0; i < n; i += 2) {
      uint8_t lo = data[at + i];
      uint8_t hi = i + 1 < n ? data[at + i + 1] : 0;
      m.PortOut16(base, static_cast<WORD>(lo | hi << 8));
    }
  }
  bool Complete() { return !(Alt() & (sim::kAtaBsy | sim::kAtaDrq)) && Reason() == 3; }
  // Runs a data-in command to its end; the bytes received.
  Bytes ReadAll(const Bytes& cdb, uint16_t limit) {
    Packet(cdb, limit);
    Bytes all;
    while (Wait() && (Alt() & sim::kAtaDrq)) {
      EXPECT_EQ(Reason(), sim::kIrrIo);
      Bytes burst = ReadBurst();
      all.insert(all.end(), burst.begin(), burst.end());
    }
    return all;
  }
};

sim::RwDrive* AddRw(sim::Machine& m, int ideId, sim::RwConfig config = {}) {
  auto drive = std::make_unique<sim::RwDrive>(config);
  sim::RwDrive* raw = drive.get();
  m.AddOnIde(std::move(drive), ideId);
  return raw;
}

TEST(Ide, EmptyChannelsAndAbsentDevicesFloat) {
  sim::Machine m;
  Host primary{m, 0x1F0}, secondary{m, 0x170};
  EXPECT_EQ(primary.In(7), 0xFF);
  EXPECT_EQ(primary.Alt(), 0xFF);
  EXPECT_EQ(m.PortIn16(0x1F0), 0xFFFF);

  AddRw(m, 0);
  primary.Select(0);
  EXPECT_EQ(primary.In(7), sim::kAtaDrdy | sim::kAtaDsc);
  primary.Select(1);
  EXPECT_EQ(primary.In(7), 0xFF);
  primary.Out(7, 0xA0);  // a command to nobody changes nothing
  primary.Select(0);
  EXPECT_EQ(primary.Alt() & sim::kAtaDrq, 0);
  secondary.Select(0);
  EXPECT_EQ(secondary.In(7), 0xFF);
  EXPECT_EQ(secondary.Alt(), 0xFF);
  EXPECT_TRUE(m.log.empty());
}

TEST(Ide, DataInComesInBurstsOfTheHostsByteCount) {
  sim::Machine m;
  AddRw(m, 0);
  Host h{m};
  h.Select(0);
  h.Packet(Inquiry(0x60), 0x20);
  EXPECT_TRUE(h.Alt() & sim::kAtaBsy) << "the drive works on INQUIRY for 2 ms";
  ASSERT_TRUE(h.Wait());
  Bytes all;
  for (int burst = 0; burst < 3; ++burst) {
    ASSERT_EQ(h.Alt() & (sim::kAtaBsy | sim::kAtaDrq | sim::kAtaErr), sim::kAtaDrq);
    ASSERT_EQ(h.Reason(), sim::kIrrIo);
    ASSERT_EQ(h.Count(), 0x20);
    Bytes b = h.ReadBurst();
    all.insert(all.end(), b.begin(), b.end());
  }
  EXPECT_TRUE(h.Complete());
  EXPECT_EQ(h.In(7) & sim::kAtaErr, 0);
  ASSERT_EQ(all.size(), 0x60u);
  EXPECT_EQ(Text(all, 8, 24), "KESTREL DVD-RW  QXR-515L");
  ASSERT_EQ(m.log.size(), 1u);
  EXPECT_EQ(m.log[0].where, "ide0");
  EXPECT_EQ(m.log[0].dir, sim::Dir::In);
  EXPECT_EQ(m.log[0].length, 0x60u);
}

TEST(Ide, OddDataInCountEndsWithAHalfWord) {
  sim::Machine m;
  AddRw(m, 0);
  Host h{m};
  h.Select(0);
  Bytes full = h.ReadAll(Inquiry(0x60), 0x60);
  Bytes odd = h.ReadAll(Inquiry(0x25), 0x60);
  EXPECT_TRUE(h.Complete());
  ASSERT_EQ(odd.size(), 0x25u);
  EXPECT_EQ(odd, Bytes(full.begin(), full.begin() + 0x25));
}

TEST(Ide, DataOutIsCollectedBeforeTheDriveRunsIt) {
  sim::Machine m;
  sim::RwConfig config;
  config.startInKernel = true;
  sim::RwDrive* drive = AddRw(m, 0, config);
  Host h{m};
  h.Select(0);
  Bytes data(0x25);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>(0x40 + i);
  h.Packet(WriteBuffer(7, 0xF0, 0, 0x25), 0x10);
  size_t at = 0;
  for (int expected : {0x10, 0x10, 0x05}) {
    ASSERT_EQ(h.Alt() & (sim::kAtaBsy | sim::kAtaDrq), sim::kAtaDrq);
    ASSERT_EQ(h.Reason(), 0) << "data to the drive";
    ASSERT_EQ(h.Count(), expected);
    EXPECT_TRUE(m.log.empty()) << "nothing reaches the drive before all data are in";
    h.WriteBurst(data, at);
    at += static_cast<size_t>(expected);
  }
  EXPECT_TRUE(h.Alt() & sim::kAtaBsy) << "programming the block";
  ASSERT_TRUE(h.Wait());
  EXPECT_TRUE(h.Complete());
  EXPECT_EQ(h.In(1), 0);
  EXPECT_EQ(drive->ReceivedNormal(), data);
  ASSERT_EQ(m.log.size(), 1u);
  EXPECT_EQ(m.log[0].dir, sim::Dir::Out);
  EXPECT_EQ(m.log[0].length, 0x25u);
}

TEST(Ide, BusyLastsTheDrivesLatencyEvenForAHostThatNeverSleeps) {
  sim::Machine m;
  AddRw(m, 0);
  Host h{m};
  h.Select(0);
  h.Packet(WriteBuffer(4, 0xFF, 0, 256), 256);
  h.WriteBurst(SwitchBlock("KESTREL  QXR-K58", 0x5B7E2D99), 0);
  const DWORD start = m.now;
  m.Advance(399);
  EXPECT_TRUE(h.Alt() & sim::kAtaBsy);
  m.Advance(1);
  EXPECT_TRUE(h.Complete());

  h.Packet(WriteBuffer(5, 0xFF, 0, 256), 256);
  h.WriteBurst(SwitchBlock("KESTREL  QXR-K58", 0x5B7E2D99), 0);
  const DWORD sent = m.now;
  long polls = 0;
  while ((h.Alt() & sim::kAtaBsy) && polls < 10000000)
    ++polls;
  EXPECT_TRUE(h.Complete());
  EXPECT_GE(m.now - sent, 2000u) << "port accesses take time";
  EXPECT_GE(sent - start, 400u);
}

TEST(Ide, CheckConditionSetsErrAndTheSenseFollowsByRequestSense) {
  sim::Machine m;
  AddRw(m, 0);
  Host h{m};
  h.Select(0);
  h.Packet({0xBB}, 0);
  ASSERT_TRUE(h.Wait());
  EXPECT_TRUE(h.Complete());
  EXPECT_EQ(h.In(7) & sim::kAtaErr, sim::kAtaErr);
  EXPECT_EQ(h.In(1), 0x54) << "sense key 5 and aborted";
  Bytes s = h.ReadAll(RequestSense(18), 18);
  ASSERT_EQ(s.size(), 18u);
  EXPECT_EQ(s[2], 5);
  EXPECT_EQ(s[12], 0x20);
  EXPECT_EQ(h.In(7) & sim::kAtaErr, 0);
}

TEST(Ide, InjectedFaultsApplyAndTheirSenseIsReported) {
  sim::Machine m;
  AddRw(m, 0);
  sim::Fault fault;
  fault.cdb = {0x12};
  fault.sense = {3, 0x11, 0x05};
  m.faults.push_back(fault);
  Host h{m};
  h.Select(0);
  EXPECT_TRUE(h.ReadAll(Inquiry(), 0x60).empty());
  EXPECT_EQ(h.In(7) & sim::kAtaErr, sim::kAtaErr);
  EXPECT_EQ(h.In(1), 0x34);
  Bytes s = h.ReadAll(RequestSense(18), 18);
  ASSERT_EQ(s.size(), 18u);
  EXPECT_EQ(s[2], 3);
  EXPECT_EQ(s[12], 0x11);
  EXPECT_EQ(s[13], 0x05);
  s = h.ReadAll(RequestSense(18), 18);
  EXPECT_EQ(s[2], 0) << "reported once";
  EXPECT_EQ(h.ReadAll(Inquiry(), 0x60).size(), 0x60u);
  ASSERT_EQ(m.log.size(), 4u);
  EXPECT_TRUE(m.log[0].faulted);
}

TEST(Ide, DeviceSelectReachesEachOfTheFourPlaces) {
  sim::Machine m;
  sim::RwConfig other;
  other.product = "DVD-RW  QXR-515D";
  AddRw(m, 0);
  AddRw(m, 3, other);
  Host secondary{m, 0x170};
  secondary.Select(0);
  EXPECT_EQ(secondary.In(7), 0xFF);
  secondary.Select(1);
  Bytes inq = secondary.ReadAll(Inquiry(), 0x60);
  ASSERT_EQ(inq.size(), 0x60u);
  EXPECT_EQ(Text(inq, 16, 16), "DVD-RW  QXR-515D");
  ASSERT_EQ(m.log.size(), 1u);
  EXPECT_EQ(m.log[0].where, "ide3");
  EXPECT_EQ(m.log[0].slot, 1);
}

TEST(Ide, HungDriveStaysBusyUntilReset) {
  sim::Machine m;
  AddRw(m, 0);
  sim::Fault fault;
  fault.kind = sim::Fault::Kind::Timeout;
  fault.cdb = {0x12};
  m.faults.push_back(fault);
  Host h{m};
  h.Select(0);
  h.Packet(Inquiry(), 0x60);
  EXPECT_FALSE(h.Wait(60000));
  h.Out(7, sim::kAtaDeviceReset);
  EXPECT_EQ(h.Alt() & sim::kAtaBsy, 0);
  EXPECT_EQ(h.ReadAll(Inquiry(), 0x60).size(), 0x60u);
}

TEST(Ide, CommandsOtherThanPacketAreAborted) {
  sim::Machine m;
  AddRw(m, 0);
  Host h{m};
  h.Select(0);
  h.Out(7, 0xEC);
  EXPECT_EQ(h.In(7), sim::kAtaDrdy | sim::kAtaDsc | sim::kAtaErr);
  EXPECT_EQ(h.In(1), sim::kAtaAbrt);
  EXPECT_TRUE(m.log.empty());
}

}  // namespace
