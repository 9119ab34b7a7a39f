#include "sim/rom_drive.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint32_t kInquiryLen = 96;
constexpr uint32_t kTrailerLen = 16;  // marker (4) and 12 bytes after the image
constexpr uint8_t kRomBuffer = 0x80;
constexpr uint8_t kEnterUpdate = 0x30;
constexpr uint8_t kImageBuffer = 0xFF;
constexpr uint8_t kExecUpdate = 0x42;

void PutField(uint8_t* field, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i)
    field[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

}  // namespace

RomDrive::RomDrive(RomConfig config) : config_(std::move(config)) {
  rom_ = config_.rom;
  if (rom_.empty()) {
    RomImageSpec layout;
    layout.place = config_.place;
    layout.size = config_.romSize;
    rom_ = BuildRomImage(layout);
  }
  // The identity, revision and date must lie inside the ROM the drive reads them from.
  rom_.resize(std::max<size_t>(rom_.size(), IdentityAddress() + kRomDate + kRomDateLen), 0xFF);
}

std::string RomDrive::Revision() const {
  const uint8_t* p = rom_.data() + IdentityAddress() + kRomRevision;
  return std::string(p, p + 4);
}

Result RomDrive::Execute(const Command& command) {
  Cdb cdb(command);
  switch (cdb.op()) {
    case kOpInquiry:
      return Inquiry(command, cdb);
    case kOpTestUnitReady:
      return TestUnitReady();
    case kOpRequestSense:
      return RequestSense(command, cdb, config_.latency.requestSense);
    case kOpStartStopUnit:
      if ((cdb.b[4] & 0x03) == 0x02) config_.disc = Disc::None;  // eject
      return Done(config_.latency.startStop);
    case kOpReadBuffer:
      return ReadBuffer(command, cdb);
    case kOpWriteBuffer:
      return WriteBuffer(command, cdb);
    default:
      return Fail(kInvalidOpcode, config_.latency.other);
  }
}

Result RomDrive::Inquiry(const Command& command, const Cdb& cdb) {
  if (cdb.b[1] & 0x01) return Fail(kInvalidField, config_.latency.other);
  uint8_t d[kInquiryLen] = {};
  d[0] = 0x05;
  d[1] = 0x80;
  d[3] = 0x02;
  d[4] = kInquiryLen - 5;
  PutField(d + 8, config_.vendor, 8);
  PutField(d + 16, config_.product, 16);
  std::memcpy(d + 32, rom_.data() + IdentityAddress() + kRomRevision, 4);
  d[36] = static_cast<uint8_t>(config_.revisionTail);
  std::memcpy(d + 37, rom_.data() + IdentityAddress() + kRomDate, kRomDateLen);
  for (size_t i = 37 + kRomDateLen; i < 56; ++i)
    d[i] = ' ';
  return Reply(command, d, sizeof d, Be16(cdb.b + 3), config_.latency.inquiry);
}

Result RomDrive::TestUnitReady() {
  if (config_.disc == Disc::None) return Fail(kNoMedium, config_.latency.testUnitReady);
  if (config_.disc == Disc::BecomingReady)
    return Fail(kBecomingReady, config_.latency.testUnitReady);
  return Done(config_.latency.testUnitReady);
}

Result RomDrive::ReadBuffer(const Command& command, const Cdb& cdb) {
  if ((cdb.b[1] & 0x1F) != 1 || cdb.b[2] != kRomBuffer)
    return Fail(kInvalidField, config_.latency.other);
  const uint32_t address = Be24(cdb.b + 3);
  const uint32_t length = Be24(cdb.b + 6);
  if (uint64_t{address} + length > rom_.size()) return Fail(kOutOfRange, config_.latency.other);
  return Reply(command, rom_.data() + address, length, length, config_.latency.romRead);
}

Result RomDrive::WriteBuffer(const Command& command, const Cdb& cdb) {
  const RomLatency& lat = config_.latency;
  if ((cdb.b[1] & 0x1F) != 1) return Fail(kInvalidField, lat.other);
  switch (cdb.b[2]) {
    case kEnterUpdate:
      // Every entry starts from an erased buffer.
      updateMode_ = true;
      update_.assign(rom_.size() + kTrailerLen, 0xFF);
      marker_.clear();
      trailer_.clear();
      return Done(lat.enterUpdate);
    case kImageBuffer:
      return Block(command, cdb);
    case kExecUpdate:
      return SelfUpdate();
    default:
      return Fail(kInvalidField, lat.other);
  }
}

Result RomDrive::Block(const Command& command, const Cdb& cdb) {
  const RomLatency& lat = config_.latency;
  if (!updateMode_) return Fail(kSequenceError, lat.other);
  const uint32_t offset = Be24(cdb.b + 3);
  const uint32_t length = Be24(cdb.b + 6);
  if (length == 0) return Done(lat.other);
  const uint8_t* data = DataOut(command, length);
  if (data == nullptr) return Fail(kParamListLength, lat.other);
  if (uint64_t{offset} + length > update_.size()) return Fail(kInvalidField, lat.other);
  std::memcpy(update_.data() + offset, data, length);
  // The final block ends with the trailer: the marker and 12 bytes after the image.
  if (offset + length == update_.size()) {
    const uint8_t* t = update_.data() + rom_.size();
    marker_.assign(t, t + 4);
    trailer_.assign(t + 4, t + kTrailerLen);
  }
  return Done(lat.block, length);
}

Result RomDrive::SelfUpdate() {
  const RomLatency& lat = config_.latency;
  if (!updateMode_) return Fail(kSequenceError, lat.other);
  // The drive flashes only an image sealed by its final block.
  if (marker_ != "WIN " && marker_ != "WIN2") return Fail(kInvalidParameter, lat.other);
  if (Revision() == "1.06") patch_ = trailer_;
  std::vector<uint8_t> next(update_.begin(), update_.begin() + static_cast<long>(rom_.size()));
  if (config_.keepOwnData && rom_.size() >= kRomOwnDataEnd)
    std::copy(rom_.begin() + kRomOwnData, rom_.begin() + kRomOwnDataEnd,
              next.begin() + kRomOwnData);
  for (uint32_t at : config_.badFlash)
    if (at < next.size()) next[at] ^= 0x01;
  rom_ = std::move(next);
  updateMode_ = false;
  ++selfUpdates_;
  return Done(lat.selfUpdate);
}

}  // namespace sim
