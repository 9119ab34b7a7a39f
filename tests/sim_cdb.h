// Commands for the virtual-drive tests: CDBs as the program builds them, and one exchange with a
// drive at the command level.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/drive.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Inquiry(uint8_t alloc = 0x60) {
  return {0x12, 0, 0, 0, alloc, 0};
}
inline Bytes TestUnitReady() {
  return {0, 0, 0, 0, 0, 0};
}
inline Bytes RequestSense(uint8_t alloc = 18) {
  return {0x03, 0, 0, 0, alloc, 0};
}
inline Bytes StartStop(uint8_t byte4) {
  return {0x1B, 0, 0, 0, byte4, 0};
}
inline Bytes ReportKey(uint8_t format, uint16_t alloc) {
  return {
      0xA4,   0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(alloc >> 8), static_cast<uint8_t>(alloc),
      format, 0};
}
inline Bytes Buffer(uint8_t op, uint8_t mode, uint8_t id, uint32_t offset, uint32_t length) {
  return {op,
          mode,
          id,
          static_cast<uint8_t>(offset >> 16),
          static_cast<uint8_t>(offset >> 8),
          static_cast<uint8_t>(offset),
          static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length),
          0};
}
inline Bytes ReadBuffer(uint8_t mode, uint8_t id, uint32_t offset, uint32_t length) {
  return Buffer(0x3C, mode, id, offset, length);
}
inline Bytes WriteBuffer(uint8_t mode, uint8_t id, uint32_t offset, uint32_t length) {
  return Buffer(0x3B, mode, id, offset, length);
}

// The 256-byte mode-switch block: a 16-character signature and a little-endian key.
inline Bytes SwitchBlock(const char* signature, uint32_t key) {
  Bytes block(256, 0);
  if (signature != nullptr) std::memcpy(block.data(), signature, 16);
  for (int i = 0; i < 4; ++i)
    block[16 + i] = static_cast<uint8_t>(key >> (8 * i));
  return block;
}

// A check condition with exactly this sense.
inline bool Checked(const sim::Result& r, const sim::Sense& sense) {
  return !r.noResponse && r.status == sim::kCheckCondition && r.sense == sense;
}
inline bool Good(const sim::Result& r) {
  return !r.noResponse && r.status == sim::kGood;
}

// Data in: a buffer of `length` bytes, cut to what the drive moved.
inline sim::Result In(sim::Drive& drive, const Bytes& cdb, uint32_t length, Bytes* data,
                      uint32_t now = 0) {
  data->assign(length, 0xEE);
  sim::Command c{cdb.data(), static_cast<int>(cdb.size()), sim::Dir::In, data->data(), length, now};
  sim::Result r = drive.Execute(c);
  data->resize(r.transferred);
  return r;
}
inline sim::Result Out(sim::Drive& drive, const Bytes& cdb, Bytes data, uint32_t now = 0) {
  sim::Command c{cdb.data(),  static_cast<int>(cdb.size()),       sim::Dir::Out,
                 data.data(), static_cast<uint32_t>(data.size()), now};
  return drive.Execute(c);
}
inline sim::Result NoData(sim::Drive& drive, const Bytes& cdb, uint32_t now = 0) {
  sim::Command c{cdb.data(), static_cast<int>(cdb.size()), sim::Dir::None, nullptr, 0, now};
  return drive.Execute(c);
}

inline std::string Text(const Bytes& data, size_t at, size_t n) {
  return std::string(data.begin() + static_cast<long>(at),
                     data.begin() + static_cast<long>(at + n));
}

}  // namespace simtest
