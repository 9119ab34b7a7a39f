// What the virtual drives share: CDB field access, the transfer a CDB asks for, the sense a drive
// keeps for REQUEST SENSE, and replies cut to the host's allocation length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/drive.h"

namespace sim {

// Senses the drives use beyond the common ones of drive.h.
constexpr Sense kParamListLength{5, 0x1A, 0x00};  // parameter list length error
constexpr Sense kOutOfRange{5, 0x21, 0x00};       // address out of range
constexpr Sense kSequenceError{5, 0x2C, 0x00};    // command sequence error

// What the drive's tray holds.
enum class Disc { None, Loaded, BecomingReady };

// SCSI operation codes the drives know.
enum Opcode : uint8_t {
  kOpTestUnitReady = 0x00,
  kOpRequestSense = 0x03,
  kOpInquiry = 0x12,
  kOpStartStopUnit = 0x1B,
  kOpWriteBuffer = 0x3B,
  kOpReadBuffer = 0x3C,
  kOpReportKey = 0xA4,
};

inline uint32_t Be16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 8 | p[1];
}
inline uint32_t Be24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 16 | Be16(p + 1);
}

// A command's CDB copied into a 16-byte array, so that fields past the length the host sent read
// as zero instead of past its buffer.
struct Cdb {
  explicit Cdb(const Command& command);
  uint8_t op() const { return b[0]; }
  uint8_t b[16] = {};
};

// The data phase a CDB asks for: direction and length in bytes, from the CDB alone. An
// ATAPI channel needs it before the drive runs the command, as the host's byte count is only a
// limit per burst. Opcodes it does not know have no data phase.
struct Transfer {
  Dir dir = Dir::None;
  uint32_t length = 0;
};
Transfer CdbTransfer(const uint8_t* cdb16);

// Base of the virtual drives: keeps the sense of the last check condition, which REQUEST SENSE
// and TakeSense return and clear.
class ScsiDrive : public Drive {
 public:
  void TakeSense(uint8_t* sense18) override;
  const Sense& PendingSense() const { return sense_; }

 protected:
  // A check condition with `sense`, kept for REQUEST SENSE.
  Result Fail(const Sense& sense, uint32_t latencyMs);
  // Good status; clears nothing (a kept sense survives good commands, as on real drives).
  static Result Done(uint32_t latencyMs, uint32_t transferred = 0);
  // Good status with data in: moves at most `size` bytes, cut to the allocation length and to
  // the host's buffer. A command without a data-in buffer gets none.
  static Result Reply(const Command& command, const uint8_t* data, size_t size, uint32_t allocLen,
                      uint32_t latencyMs);
  // REQUEST SENSE: the kept sense (or NO SENSE) in fixed format, cut to the allocation length.
  Result RequestSense(const Command& command, const Cdb& cdb, uint32_t latencyMs);
  // The host's data of a data-out command when it holds at least `length` bytes, else nullptr.
  static const uint8_t* DataOut(const Command& command, uint32_t length);

 private:
  Sense sense_;
};

}  // namespace sim
