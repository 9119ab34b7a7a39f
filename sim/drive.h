// A virtual drive at the command level: one SCSI/MMC command in, status, sense and data out.
//
// Drives know nothing of how they are reached. The machine (machine.h) places them behind drive
// letters, ASPI host adapters or an IDE channel, applies injected faults, logs every command and
// turns a drive's latency into time on the virtual clock.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

enum class Dir { None, In, Out };

// Sense key, additional sense code and qualifier.
struct Sense {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  bool operator==(const Sense&) const = default;
};

// SCSI status values.
constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;

// Common senses.
constexpr Sense kNoSense{0, 0, 0};
constexpr Sense kNoMedium{2, 0x3A, 0x00};
constexpr Sense kBecomingReady{2, 0x04, 0x01};
constexpr Sense kNotReadyInitRequired{2, 0x04, 0x02};
constexpr Sense kInvalidOpcode{5, 0x20, 0x00};
constexpr Sense kInvalidField{5, 0x24, 0x00};
constexpr Sense kInvalidParameter{5, 0x26, 0x00};
constexpr Sense kMediumChanged{6, 0x28, 0x00};
constexpr Sense kPowerOnReset{6, 0x29, 0x00};

// One command as the drive sees it. For Dir::Out, data holds `length` bytes from the host; for
// Dir::In it has room for `length` bytes and the drive never writes more.
struct Command {
  const uint8_t* cdb = nullptr;
  int cdbLen = 0;
  Dir dir = Dir::None;
  uint8_t* data = nullptr;
  uint32_t length = 0;
  uint32_t now = 0;  // virtual time in ms when the command reaches the drive
};

struct Result {
  uint8_t status = kGood;
  Sense sense;               // meaningful with kCheckCondition
  uint32_t transferred = 0;  // bytes moved
  uint32_t latencyMs = 0;    // how long the drive takes to complete the command
  bool noResponse = false;   // the drive never completes it (hung, powered off)
};

class Drive {
 public:
  virtual ~Drive() = default;
  virtual Result Execute(const Command& command) = 0;
  // Peripheral device type reported by INQUIRY byte 0 (5 for CD/DVD).
  virtual uint8_t DeviceType() const { return 5; }
  // Fixed-format sense data (18 bytes) of the last check condition, as REQUEST SENSE returns it;
  // reading it clears it.
  virtual void TakeSense(uint8_t* sense18) = 0;
};

// Helper for drives: fixed-format sense bytes.
void FillSense(uint8_t* sense18, const Sense& sense);

}  // namespace sim
