#include "sim/scsi.h"

#include <algorithm>
#include <cstring>

namespace sim {

Cdb::Cdb(const Command& command) {
  if (command.cdb != nullptr && command.cdbLen > 0)
    std::memcpy(b, command.cdb, static_cast<size_t>(std::min(command.cdbLen, 16)));
}

Transfer CdbTransfer(const uint8_t* cdb) {
  switch (cdb[0]) {
    case 0x03:  // REQUEST SENSE
      return {Dir::In, cdb[4]};
    case 0x12:  // INQUIRY
      return {Dir::In, Be16(cdb + 3)};
    case 0x25:  // READ CAPACITY
      return {Dir::In, 8};
    case 0x43:  // READ TOC
    case 0x46:  // GET CONFIGURATION
    case 0x4A:  // GET EVENT STATUS NOTIFICATION
    case 0x5A:  // MODE SENSE (10)
      return {Dir::In, Be16(cdb + 7)};
    case 0x55:  // MODE SELECT (10)
      return {Dir::Out, Be16(cdb + 7)};
    case 0x3B:  // WRITE BUFFER
      return {Dir::Out, Be24(cdb + 6)};
    case 0x3C:  // READ BUFFER
      return {Dir::In, Be24(cdb + 6)};
    case 0xA3:  // SEND KEY
      return {Dir::Out, Be16(cdb + 8)};
    case 0xA4:  // REPORT KEY
    case 0xBD:  // MECHANISM STATUS
      return {Dir::In, Be16(cdb + 8)};
    default:
      return {};
  }
}

void ScsiDrive::TakeSense(uint8_t* sense18) {
  FillSense(sense18, sense_);
  sense_ = kNoSense;
}

Result ScsiDrive::Fail(const Sense& sense, uint32_t latencyMs) {
  sense_ = sense;
  Result r;
  r.status = kCheckCondition;
  r.sense = sense;
  r.latencyMs = latencyMs;
  return r;
}

Result ScsiDrive::Done(uint32_t latencyMs, uint32_t transferred) {
  Result r;
  r.latencyMs = latencyMs;
  r.transferred = transferred;
  return r;
}

Result ScsiDrive::Reply(const Command& command, const uint8_t* data, size_t size, uint32_t allocLen,
                        uint32_t latencyMs) {
  size_t n = std::min<size_t>(size, allocLen);
  if (command.dir != Dir::In || command.data == nullptr) n = 0;
  n = std::min<size_t>(n, command.length);
  if (n > 0) std::memcpy(command.data, data, n);
  return Done(latencyMs, static_cast<uint32_t>(n));
}

Result ScsiDrive::RequestSense(const Command& command, const Cdb& cdb, uint32_t latencyMs) {
  uint8_t sense[18];
  TakeSense(sense);
  return Reply(command, sense, sizeof sense, cdb.b[4], latencyMs);
}

const uint8_t* ScsiDrive::DataOut(const Command& command, uint32_t length) {
  if (length == 0) return nullptr;
  if (command.dir != Dir::Out || command.data == nullptr || command.length < length) return nullptr;
  return command.data;
}

}  // namespace sim
