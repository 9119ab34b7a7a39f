// A virtual Kestrel read-only DVD drive: its ROM read back by READ BUFFER, the update mode, image
// blocks into the update buffer and the self-update that makes that buffer the new ROM.
// sim/README.md describes the rules it follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/image_tools.h"
#include "sim/scsi.h"

namespace sim {

// The identities of the drives whose ROM carries no "KESTREL " name (at RomPlace::At1F000), as
// plain text. The program holds them only scrambled, as its identity patterns, and these are the
// values a drive of such a model reports in its ROM: the CPU name, then the model names A (model
// code 9), B (model code 11) and C.
constexpr char kRomIdCpuText[] = "MCU-R8032 CORE  ";
constexpr char kRomIdModelAText[] = "QXD-516 ROM-A   ";
constexpr char kRomIdModelBText[] = "QXD-516 ROM-B   ";
constexpr char kRomIdModelCText[] = "QXD-516 ROM-C   ";

// How long the drive takes per kind of command, in virtual milliseconds.
struct RomLatency {
  uint32_t inquiry = 2;
  uint32_t testUnitReady = 1;
  uint32_t requestSense = 1;
  uint32_t startStop = 30;
  uint32_t romRead = 30;        // one READ BUFFER of ROM, whatever its length
  uint32_t enterUpdate = 50;    // entering the update mode
  uint32_t block = 100;         // one block into the update buffer
  uint32_t selfUpdate = 25000;  // erasing and programming the ROM
  uint32_t other = 1;
};

struct RomConfig {
  std::string vendor = "KESTREL ";
  std::string product = "DVD-ROM QXD-516 ";
  char revisionTail = ' ';  // INQUIRY byte 36
  // Where the ROM holds its identity, revision and date (image_tools.h). The revision and date
  // INQUIRY reports are read from there, so a new ROM brings its own.
  RomPlace place = RomPlace::At1000;
  // The ROM; empty: BuildRomImage with this place and romSize.
  std::vector<uint8_t> rom;
  uint32_t romSize = 0x20000;
  // A self-update keeps the drive's own bytes kRomOwnData..kRomOwnDataEnd of the old ROM.
  bool keepOwnData = true;
  // ROM addresses that the self-update programs wrongly, as worn flash would: the byte ends up
  // with its lowest bit inverted, so a read-back differs there.
  std::vector<uint32_t> badFlash;
  Disc disc = Disc::None;
  RomLatency latency;
};

class RomDrive : public ScsiDrive {
 public:
  explicit RomDrive(RomConfig config = {});

  Result Execute(const Command& command) override;

  const std::vector<uint8_t>& Rom() const { return rom_; }
  std::string Revision() const;  // the 4 characters INQUIRY reports
  bool InUpdateMode() const { return updateMode_; }
  // The update buffer: the ROM's size plus the 16-byte trailer (marker and 12 bytes).
  const std::vector<uint8_t>& UpdateBuffer() const { return update_; }
  // The trailer of the last final block: its 4-byte marker ("WIN " or "WIN2") and the 12 bytes
  // after it. Empty until a final block arrives.
  const std::string& Marker() const { return marker_; }
  const std::vector<uint8_t>& TrailerBytes() const { return trailer_; }
  // The 12 bytes a drive at revision 1.06 took from its last self-update as its patch data.
  const std::vector<uint8_t>& PatchBytes() const { return patch_; }
  int SelfUpdates() const { return selfUpdates_; }
  // The disc and the latencies may change between commands; the ROM is the drive's own (Rom()).
  RomConfig& Config() { return config_; }

 private:
  Result Inquiry(const Command& command, const Cdb& cdb);
  Result TestUnitReady();
  Result ReadBuffer(const Command& command, const Cdb& cdb);
  Result WriteBuffer(const Command& command, const Cdb& cdb);
  Result Block(const Command& command, const Cdb& cdb);
  Result SelfUpdate();
  uint32_t IdentityAddress() const { return RomIdentityAddress(config_.place); }

  RomConfig config_;
  std::vector<uint8_t> rom_;
  bool updateMode_ = false;
  std::vector<uint8_t> update_;
  std::string marker_;
  std::vector<uint8_t> trailer_;
  std::vector<uint8_t> patch_;
  int selfUpdates_ = 0;
};

}  // namespace sim
