// A virtual Kestrel recordable DVD drive: normal firmware, the resident update kernel, the
// mode-switch block, image blocks into flash and the re-flash on the way back to normal mode.
// sim/README.md describes the rules it follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/scsi.h"

namespace sim {

// How long the drive takes per kind of command, in virtual milliseconds.
struct RwLatency {
  uint32_t inquiry = 2;
  uint32_t testUnitReady = 1;
  uint32_t requestSense = 1;
  uint32_t readBuffer = 2;
  uint32_t reportKey = 2;
  uint32_t startStop = 30;   // stopping a disc that is not turning is quick
  uint32_t toKernel = 400;   // mode 4: the drive restarts into its kernel
  uint32_t block = 120;      // one image block written to flash
  uint32_t toNormal = 2000;  // mode 5: checking the image and restarting
  uint32_t reflash = 6000;   // mode 5 with a new normal part: programming it
  uint32_t other = 1;        // refused commands
};

enum class DateForm { Short, Full, Month };

struct RwConfig {
  // Identity of the running normal firmware.
  std::string vendor = "KESTREL ";
  std::string product = "DVD-RW  QXR-515L";
  std::string revision = "1.21";  // INQUIRY bytes 32..35
  char revisionTail = ' ';        // INQUIRY byte 36
  std::string date = "08/07/10";  // INQUIRY from byte 37, in the form below
  // The form in which the drive reports the date of a firmware it re-flashes: "yy/mm/dd",
  // "yyyy/mm/dd", or, as drives of vendor "Lumarca " do, month abbreviation, day, century and
  // year ("Jul102008").
  DateForm dateForm = DateForm::Short;
  std::string hwRevision = "HW  0102";
  std::string kernelModel = "KES_ADV ";
  std::string normalModel = "KES_ADV ";
  // The resident kernel as INQUIRY reports it in kernel mode.
  std::string kernelVersion = "0000";
  std::string kernelDate = "08/05/20";
  // Vendor and product (24 characters) the kernel reports; empty: those of the normal firmware.
  // The maker's kernel in a drive sold under another name reports the maker's identity, such as
  // "KESTREL DVD-RW  QXR-515 ".
  std::string kernelIdentity;

  // Mode-switch block checks: the model code chooses the signature, and for 0x100D and 0x1048 the
  // base key and the kernel model name give the mode key.
  uint32_t modelCode = 0x100D;
  uint32_t modeKeyBase = 0x5B7E2D94;
  // Refuse a mode-switch block whose bytes 20..255 are not all zero (a real drive ignores them).
  bool strictReserved = false;

  // The drive starts in its kernel, as after an interrupted update: flash holds no normal part.
  bool startInKernel = false;
  Disc disc = Disc::None;
  uint32_t readyAt = 0;  // virtual time at which a BecomingReady disc is ready; 0: never
  uint8_t rpcScheme = 1;
  int unitAttentions = 0;  // 6/28/00 reported to the first TEST UNIT READYs

  // Flash.
  uint32_t kernelFlash = 0x20000;      // the kernel part, also its exact size
  uint32_t normalFlash = 0x800000;     // room for the normal part
  uint32_t normalPartSize = 0x200000;  // least size of a complete normal part

  // Faults of the drive itself.
  int powerLossAfterBlocks = -1;  // power fails on the normal block after this many; -1: never
  bool staysInKernel = false;     // mode 5 is accepted but the drive never leaves its kernel

  RwLatency latency;
};

class RwDrive : public ScsiDrive {
 public:
  explicit RwDrive(RwConfig config = {});

  Result Execute(const Command& command) override;

  // Power comes back after a power loss (or the drive is power-cycled): the drive boots the
  // normal part in flash when it is complete, else stays in its kernel with what flash holds.
  void PowerCycle();

  // State for tests.
  bool InKernel() const { return kernel_; }
  bool Powered() const { return powered_; }
  // The identity now running and the drive's state (disc, pending attentions); tests may change
  // the disc or the faults between commands.
  const RwConfig& Config() const { return config_; }
  RwConfig& Config() { return config_; }
  // Normal-part bytes received since the kernel was entered (the contiguous run from 0).
  std::vector<uint8_t> ReceivedNormal() const;
  std::vector<uint8_t> ReceivedKernel() const;
  int Reflashes() const { return reflashes_; }
  int NormalBlocks() const { return normalBlocks_; }
  // The last mode-switch block received, accepted or not.
  const std::vector<uint8_t>& LastSwitchBlock() const { return lastSwitch_; }

 private:
  // One part of flash receiving blocks; `extent` bytes from 0 hold what was sent.
  struct Part {
    std::vector<uint8_t> bytes;
    uint32_t extent = 0;
    bool written = false;  // blocks arrived since the kernel was entered
  };

  Result Inquiry(const Command& command, const Cdb& cdb);
  Result TestUnitReady(const Command& command);
  Result ReadBuffer(const Command& command, const Cdb& cdb);
  Result ReportKey(const Command& command, const Cdb& cdb);
  Result StartStop(const Cdb& cdb);
  Result WriteBuffer(const Command& command, const Cdb& cdb);
  Result ModeSwitch(const Command& command, const Cdb& cdb);
  Result Block(Part& part, uint32_t size, const Command& command, const Cdb& cdb);

  // Signature and key the block of a switch to kernel (mode 4) or normal (mode 5) must carry.
  void ExpectedSwitch(bool toKernel, uint8_t signature[16], uint32_t* key, bool* keyed) const;
  bool NormalComplete() const;
  bool KernelComplete() const;
  // Make a complete received kernel part, and the received normal part, the running firmware.
  void InstallKernel();
  void InstallNormal();

  RwConfig config_;
  bool kernel_ = false;
  bool powered_ = true;
  bool oldNormalValid_ = true;  // flash still holds the firmware that ran before the kernel
  Part normal_;
  Part kernelPart_;
  int normalBlocks_ = 0;
  int reflashes_ = 0;
  std::vector<uint8_t> lastSwitch_;
};

}  // namespace sim
