// A scripted drive for the transport's and the command builders' tests, and the set-ups they share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/global.h"
#include "driver/defdata.h"
#include "sim/drive.h"
#include "sim/machine.h"
#include "tests/support.h"
#include "transport/cmdapi.h"

namespace test {

// Answers INQUIRY, the drive information read and the RPC state query with the bytes given, fails
// the opcodes named, and accepts every other command.
class ScriptedDrive : public sim::Drive {
 public:
  uint8_t inquiry[96] = {};
  uint8_t info[48] = {};
  uint8_t rpc[8] = {0, 6, 0, 0, 0x80, 0xFE, 1, 0};           // RPC scheme 1
  uint32_t inquiryBytes = 96, infoBytes = 48, rpcBytes = 8;  // how much of each the drive gives
  bool infoFails = false;        // the drive information read ends with ILLEGAL REQUEST
  std::vector<uint8_t> failing;  // opcodes that end with `fail`
  sim::Sense fail;
  uint32_t latencyMs = 0;  // of every command

  sim::Result Execute(const sim::Command& c) override {
    sim::Result r;
    r.latencyMs = latencyMs;
    const bool isInfo = c.cdb[0] == 0x3C && c.cdb[1] == 2 && c.cdb[2] == 0xF1;
    if (c.cdb[0] == 0x12) return Reply(c, r, inquiry, inquiryBytes);
    if (isInfo && !infoFails) return Reply(c, r, info, infoBytes);
    if (c.cdb[0] == 0xA4) return Reply(c, r, rpc, rpcBytes);
    if (isInfo || std::count(failing.begin(), failing.end(), c.cdb[0]) != 0) {
      r.status = sim::kCheckCondition;
      r.sense = isInfo ? sim::kInvalidField : fail;
    }
    return r;
  }
  uint8_t DeviceType() const override { return inquiry[0]; }
  void TakeSense(uint8_t*) override {}  // the sense comes with the failure

 private:
  static sim::Result Reply(const sim::Command& c, sim::Result r, const uint8_t* data,
                           uint32_t size) {
    r.transferred = std::min(c.length, size);
    if (c.dir == sim::Dir::In) std::memcpy(c.data, data, r.transferred);
    return r;
  }
};

// A CD/DVD drive with the given 8-byte vendor and 16-byte product, and the given kernel and normal
// model names in its drive information.
inline std::unique_ptr<ScriptedDrive> MakeDrive(const char* vendor = "KESTREL ",
                                                const char* product = "DVD-RW  QXR-515L",
                                                const char* kernelName = "KES_ADV ",
                                                const char* normalName = "KES_ADV ") {
  auto d = std::make_unique<ScriptedDrive>();
  d->inquiry[0] = 5;
  d->inquiry[4] = 91;
  std::memcpy(d->inquiry + 8, vendor, 8);
  std::memcpy(d->inquiry + 16, product, 16);
  std::memcpy(d->inquiry + 32, "1.21", 4);
  std::memcpy(d->info + 24, kernelName, 8);
  std::memcpy(d->info + 32, normalName, 8);
  return d;
}

inline ScriptedDrive& DriveAt(sim::Machine& m, size_t i) {
  return static_cast<ScriptedDrive&>(*m.slots.at(i).drive);
}

// Windows 98: the ASPI path.
inline void UseWindows98(sim::Machine& m) {
  m.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  m.version.dwMajorVersion = 4;
  m.version.dwMinorVersion = 10;
}

// Transport unit tests over a fresh simulated machine (of class M), closed after each test.
// Start() opens the transport and enumerates as the program does. Open() does so over one drive
// as target 0: behind D: when no adapters are given (the pass-through path, only before any ASPI
// one), else on Windows 98 on adapter `ha` of them; the log then starts empty.
template <class M = sim::Machine>
class TransportTestOf : public ::testing::Test {
 protected:
  M m;
  int Start() {
    if (started_) EndCmdApi();
    started_ = true;
    Fresh(m);
    SetDefData();
    int rc = InitCmdApi();
    EnumDevice();
    return rc;
  }
  ScriptedDrive& Open(std::vector<sim::Adapter> adapters = {}, int ha = 0) {
    m.slots.clear();
    if (adapters.empty()) {
      m.AddAtLetter(MakeDrive(), 'D');
    } else {
      UseWindows98(m);
      m.adapters = std::move(adapters);
      m.AddOnAdapter(MakeDrive(), ha, 0);
    }
    Start();
    EXPECT_EQ(gDevn, 1);
    m.log.clear();
    return DriveAt(m, 0);
  }
  void TearDown() override {
    EndCmdApi();
    m.Uninstall();
  }
  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = m.console.find(text); at != std::string::npos;
         at = m.console.find(text, at + 1))
      ++n;
    return n;
  }
  bool started_ = false;
};
using TransportTest = TransportTestOf<>;

}  // namespace test
