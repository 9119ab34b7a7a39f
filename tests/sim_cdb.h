// Commands for the virtual-drive tests: CDBs as the program builds them, and one exchange with a
// drive at the command level.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/drive.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Inquiry(uint8_t alloc = 0x60) {
  return {0x12, 0, 0, 0, alloc, 0};
}
inline Bytes RequestSense() {
  return {0x03, 0, 0, 0, 18, 0};
}

// READ BUFFER (0x3C) or WRITE BUFFER (0x3B): offset in bytes 3..5, length in 6..8.
inline Bytes Buffer(uint8_t op, uint8_t mode, uint8_t id, uint32_t offset, uint32_t length) {
  Bytes cdb{op, mode, id, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    cdb[5 - i] = static_cast<uint8_t>(offset >> (8 * i));
    cdb[8 - i] = static_cast<uint8_t>(length >> (8 * i));
  }
  return cdb;
}
inline Bytes ReadBuffer(uint8_t mode, uint8_t id, uint32_t offset, uint32_t length) {
  return Buffer(0x3C, mode, id, offset, length);
}
inline Bytes WriteBuffer(uint8_t mode, uint8_t id, uint32_t offset, uint32_t length) {
  return Buffer(0x3B, mode, id, offset, length);
}

// The drive answered with exactly this sense (kNoSense: with good status).
inline bool Is(const sim::Result& r, const sim::Sense& sense) {
  return !r.noResponse &&
         (sense == sim::kNoSense ? r.status == sim::kGood
                                 : r.status == sim::kCheckCondition && r.sense == sense);
}
inline bool Good(const sim::Result& r) {
  return Is(r, sim::kNoSense);
}

// One command. Data in land in `*data` (`length` bytes of room), cut to what the drive moved.
inline sim::Result Exchange(sim::Drive& drive, const Bytes& cdb, sim::Dir dir, Bytes* data,
                            uint32_t length) {
  if (dir == sim::Dir::In) data->assign(length, 0xEE);
  const sim::Result r = drive.Execute(
      {cdb.data(), static_cast<int>(cdb.size()), dir, data ? data->data() : nullptr, length});
  if (dir == sim::Dir::In) data->resize(r.transferred);
  return r;
}
inline sim::Result In(sim::Drive& drive, const Bytes& cdb, uint32_t length, Bytes* data) {
  return Exchange(drive, cdb, sim::Dir::In, data, length);
}
inline sim::Result Out(sim::Drive& drive, const Bytes& cdb, Bytes data) {
  return Exchange(drive, cdb, sim::Dir::Out, &data, static_cast<uint32_t>(data.size()));
}
inline sim::Result NoData(sim::Drive& drive, const Bytes& cdb) {
  return Exchange(drive, cdb, sim::Dir::None, nullptr, 0);
}

inline std::string Text(const Bytes& data, size_t at, size_t n) {
  return std::string(data.begin() + static_cast<long>(at),
                     data.begin() + static_cast<long>(at + n));
}

}  // namespace simtest
