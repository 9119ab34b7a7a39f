// A scripted drive for the transport's tests: it answers INQUIRY and the drive information read
// with bytes a test gives, and every other command as the test's handler says.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
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

class ScriptedDrive : public sim::Drive {
 public:
  uint8_t inquiry[96] = {};
  uint8_t info[48] = {};
  bool infoFails = false;      // the drive information read ends with ILLEGAL REQUEST
  uint32_t inquiryBytes = 96;  // how much of each the drive gives
  uint32_t infoBytes = 48;
  uint32_t latencyMs = 0;                                 // of every command
  std::function<sim::Result(const sim::Command&)> other;  // default: good, no data

  sim::Result Execute(const sim::Command& c) override {
    sim::Result r;
    r.latencyMs = latencyMs;
    if (c.cdb[0] == 0x12) return Reply(c, r, inquiry, inquiryBytes);
    if (c.cdb[0] == 0x3C && c.cdb[1] == 0x02 && c.cdb[2] == 0xF1) {
      if (infoFails) return Check(r, sim::kInvalidField);
      return Reply(c, r, info, infoBytes);
    }
    if (other) {
      sim::Result o = other(c);
      if (o.status != sim::kGood) last_ = o.sense;
      return o;
    }
    return r;
  }
  uint8_t DeviceType() const override { return inquiry[0]; }
  void TakeSense(uint8_t* sense18) override {
    sim::FillSense(sense18, last_);
    last_ = sim::kNoSense;
  }

 private:
  sim::Result Reply(const sim::Command& c, sim::Result r, const uint8_t* data, uint32_t size) {
    r.transferred = c.length < size ? c.length : size;
    if (c.dir == sim::Dir::In) std::memcpy(c.data, data, r.transferred);
    return r;
  }
  sim::Result Check(sim::Result r, const sim::Sense& s) {
    r.status = sim::kCheckCondition;
    r.sense = s;
    last_ = s;
    return r;
  }
  sim::Sense last_;
};

// INQUIRY data of a CD/DVD drive with the given 8-byte vendor and 16-byte product.
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

// The drive in slot i.
inline ScriptedDrive& DriveAt(sim::Machine& m, size_t i) {
  return static_cast<ScriptedDrive&>(*m.slots.at(i).drive);
}

// Windows 98: the ASPI path.
inline void UseWindows98(sim::Machine& m) {
  m.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  m.version.dwMajorVersion = 4;
  m.version.dwMinorVersion = 10;
}

inline std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// A request as a builder makes it, on target 0.
inline TagCmdIrp Irp(std::initializer_list<uint8_t> cdb, int32_t dir = kDirNone,
                     uint8_t* buf = nullptr, int32_t len = 0, int32_t timeout = 1000) {
  TagCmdIrp irp;
  std::memset(&irp, 0, sizeof irp);
  irp.dir = dir;
  irp.cdbLen = static_cast<int32_t>(cdb.size());
  irp.timeout = timeout;
  irp.xferLen = len;
  irp.pBuf = buf;
  std::copy(cdb.begin(), cdb.end(), irp.cdb);
  return irp;
}

// Transport unit tests over a fresh simulated machine: Start() opens the transport and enumerates
// as the program does; the transport is closed after each test.
class TransportTest : public ::testing::Test {
 protected:
  sim::Machine m;
  int Start() {
    if (started_) EndCmdApi();
    started_ = true;
    Fresh(m);
    SetDefData();
    int rc = InitCmdApi();
    EnumDevice();
    return rc;
  }
  void TearDown() override {
    EndCmdApi();
    m.Uninstall();
  }
  bool started_ = false;
  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = m.console.find(text); at != std::string::npos;
         at = m.console.find(text, at + 1))
      ++n;
    return n;
  }
};

}  // namespace test
