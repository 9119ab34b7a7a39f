#include "sim/rw_drive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/image_tools.h"

namespace sim {

namespace {

constexpr uint32_t kInquiryLen = 96;
constexpr uint32_t kInfoLen = 48;
constexpr uint32_t kSwitchLen = 256;
constexpr uint8_t kInfoBuffer = 0xF1;
constexpr uint8_t kSwitchBuffer = 0xFF;
constexpr uint8_t kKernelBuffer = 0xFE;
constexpr uint8_t kNormalBuffer = 0xF0;
constexpr char kKernelModelOfImages[] = "KES_ADV ";

// Signatures of the mode-switch block by model code; models not listed expect 16 zero bytes.
struct SwitchSignature {
  uint32_t model;
  const char* toKernel;
  const char* toNormal;
  bool keyed;  // bytes 16..19 carry the mode key
};
const SwitchSignature kSignatures[] = {
    {0x1003, "KESTREL QXR-S701", "KESTREL QXR-S701", false},
    {0x1004, "KESTREL DVD-R504", "KESTREL DVD-R504", false},
    {0x1005, "KESTREL  QXR-505", "KESTREL  QXR-505", false},
    {0x1041, "KESTREL  QXR-505", "KESTREL  QXR-K51", false},
    {0x100D, "KESTREL  QXR-K58", "KESTREL  QXR-K58", true},
    {0x1048, "KESTREL  QXR-K58", "KESTREL  QXR-K58", true},
};

// Copies `text` into a field of `width` bytes, blank-padded.
void PutField(uint8_t* field, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i)
    field[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

bool FieldEquals(const std::string& text, const char* literal8) {
  std::string padded = text;
  padded.resize(8, ' ');
  return std::memcmp(padded.data(), literal8, 8) == 0;
}

std::string TextAt(const std::vector<uint8_t>& image, size_t at, size_t width) {
  return std::string(image.begin() + static_cast<std::ptrdiff_t>(at),
                     image.begin() + static_cast<std::ptrdiff_t>(at + width));
}

bool Printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// The date a normal part's header gives, in the form this drive reports in INQUIRY. Headers carry
// "yy/mm/dd" or the long form; a text that yields no month is reported as it stands.
std::string ReportedDate(const std::vector<uint8_t>& image, DateForm form) {
  const uint8_t* text = image.data() + kHdrDate;
  const size_t len = kHdrKernelVersion - kHdrDate;
  bool shortForm = text[2] == '/' && text[5] == '/';
  uint32_t bcd = shortForm ? ShortDateValue(text, len) : LongDateValue(text, len);
  if ((bcd & 0xFF00) == 0) return TextAt(image, kHdrDate, 8);
  if (form == DateForm::Short) return ShortDateText(bcd);
  if (form == DateForm::Full) {
    char full[16];
    std::snprintf(full, sizeof full, "%04x/%02x/%02x", bcd >> 16, (bcd >> 8) & 0xFF, bcd & 0xFF);
    return full;
  }
  std::string month = LongDateText(bcd);  // "Mmmdd ccyy "
  return month.substr(0, 5) + month.substr(6, 4);
}

}  // namespace

RwDrive::RwDrive(RwConfig config) : config_(std::move(config)) {
  kernel_ = config_.startInKernel;
  oldNormalValid_ = !config_.startInKernel;
}

Result RwDrive::Execute(const Command& command) {
  if (!powered_) {
    Result r;
    r.noResponse = true;
    return r;
  }
  Cdb cdb(command);
  switch (cdb.op()) {
    case kOpInquiry:
      return Inquiry(command, cdb);
    case kOpTestUnitReady:
      return TestUnitReady(command);
    case kOpRequestSense:
      return RequestSense(command, cdb, config_.latency.requestSense);
    case kOpReadBuffer:
      return ReadBuffer(command, cdb);
    case kOpReportKey:
      return ReportKey(command, cdb);
    case kOpStartStopUnit:
      return StartStop(cdb);
    case kOpWriteBuffer:
      return WriteBuffer(command, cdb);
    default:
      return Fail(kInvalidOpcode, config_.latency.other);
  }
}

Result RwDrive::Inquiry(const Command& command, const Cdb& cdb) {
  if (cdb.b[1] & 0x01) return Fail(kInvalidField, config_.latency.other);  // no vital product data
  uint8_t d[kInquiryLen] = {};
  d[0] = 0x05;  // CD/DVD device
  d[1] = 0x80;  // removable medium
  d[3] = 0x02;
  d[4] = kInquiryLen - 5;
  if (kernel_ && !config_.kernelIdentity.empty()) {
    PutField(d + 8, config_.kernelIdentity, 24);
  } else {
    PutField(d + 8, config_.vendor, 8);
    PutField(d + 16, config_.product, 16);
  }
  PutField(d + 32, kernel_ ? config_.kernelVersion : config_.revision, 4);
  d[36] = kernel_ ? ' ' : static_cast<uint8_t>(config_.revisionTail);
  PutField(d + 37, kernel_ ? config_.kernelDate : config_.date, 56 - 37);
  return Reply(command, d, sizeof d, Be16(cdb.b + 3), config_.latency.inquiry);
}

Result RwDrive::TestUnitReady(const Command& command) {
  const uint32_t latency = config_.latency.testUnitReady;
  if (config_.unitAttentions > 0) {
    --config_.unitAttentions;
    return Fail(kMediumChanged, latency);
  }
  if (config_.disc == Disc::BecomingReady && config_.readyAt != 0 && command.now >= config_.readyAt)
    config_.disc = Disc::Loaded;
  if (config_.disc == Disc::None) return Fail(kNoMedium, latency);
  // The kernel has no servo code: a disc is there but never becomes ready.
  if (kernel_) return Fail(kNotReadyInitRequired, latency);
  if (config_.disc == Disc::BecomingReady) return Fail(kBecomingReady, latency);
  return Done(latency);
}

Result RwDrive::ReadBuffer(const Command& command, const Cdb& cdb) {
  const uint8_t mode = cdb.b[1] & 0x1F;
  const uint32_t offset = Be24(cdb.b + 3);
  if (mode != 2 || cdb.b[2] != kInfoBuffer || offset >= kInfoLen)
    return Fail(kInvalidField, config_.latency.other);
  uint8_t info[kInfoLen] = {};
  info[0] = static_cast<uint8_t>(config_.modelCode >> 8);
  info[1] = static_cast<uint8_t>(config_.modelCode);
  info[2] = kernel_ ? 1 : 0;
  info[3] = config_.rpcScheme;
  PutField(info + 16, config_.hwRevision, 8);
  PutField(info + 24, config_.kernelModel, 8);
  PutField(info + 32, kernel_ ? std::string() : config_.normalModel, 8);
  PutField(info + 40, config_.kernelVersion, 4);
  return Reply(command, info + offset, kInfoLen - offset, Be24(cdb.b + 6),
               config_.latency.readBuffer);
}

Result RwDrive::ReportKey(const Command& command, const Cdb& cdb) {
  if (kernel_) return Fail(kInvalidOpcode, config_.latency.other);
  const uint8_t keyClass = cdb.b[7];
  const uint8_t format = cdb.b[10] & 0x3F;
  if (keyClass != 0 || format != 8) return Fail(kInvalidField, config_.latency.other);
  uint8_t rpc[8] = {};
  rpc[1] = 6;                  // data length
  rpc[4] = 0x40 | 4 << 3 | 4;  // region set; 4 vendor and 4 user changes left
  rpc[5] = 0xFE;               // region 1
  rpc[6] = config_.rpcScheme;
  return Reply(command, rpc, sizeof rpc, Be16(cdb.b + 8), config_.latency.reportKey);
}

Result RwDrive::StartStop(const Cdb& cdb) {
  const bool start = cdb.b[4] & 0x01;
  const bool loej = cdb.b[4] & 0x02;
  if (loej && !start) config_.disc = Disc::None;  // the tray opens
  return Done(config_.latency.startStop);
}

Result RwDrive::WriteBuffer(const Command& command, const Cdb& cdb) {
  const uint8_t mode = cdb.b[1] & 0x1F;
  const uint8_t id = cdb.b[2];
  if ((mode == 4 || mode == 5) && id == kSwitchBuffer) return ModeSwitch(command, cdb);
  if (mode == 7 && id == kKernelBuffer)
    return Block(kernelPart_, config_.kernelFlash, command, cdb);
  if (mode == 7 && id == kNormalBuffer) return Block(normal_, config_.normalFlash, command, cdb);
  return Fail(kInvalidField, config_.latency.other);
}

void RwDrive::ExpectedSwitch(bool toKernel, uint8_t signature[16], uint32_t* key,
                             bool* keyed) const {
  std::memset(signature, 0, 16);
  *keyed = false;
  for (const SwitchSignature& s : kSignatures) {
    if (s.model != config_.modelCode) continue;
    std::memcpy(signature, toKernel ? s.toKernel : s.toNormal, 16);
    *keyed = s.keyed;
  }
  const uint32_t base = config_.modeKeyBase;
  const std::string& name = config_.kernelModel;
  if (FieldEquals(name, "FARDEL  ") || FieldEquals(name, "FARDEL2 ") ||
      FieldEquals(name, "GENERAL "))
    *key = base + 6;
  else if (FieldEquals(name, "QUILL   ") && toKernel)
    *key = (base & ~0xFFu) | ((base + 5) & 0xFF);
  else
    *key = base + 5;
  if (FieldEquals(name, "COMPO   ")) *key = base;
}

Result RwDrive::ModeSwitch(const Command& command, const Cdb& cdb) {
  const RwLatency& lat = config_.latency;
  const uint8_t* data = DataOut(command, kSwitchLen);
  if (Be24(cdb.b + 6) != kSwitchLen || data == nullptr) return Fail(kParamListLength, lat.other);
  lastSwitch_.assign(data, data + kSwitchLen);

  const bool toKernel = (cdb.b[1] & 0x1F) == 4;
  uint8_t signature[16];
  uint32_t key = 0;
  bool keyed = false;
  ExpectedSwitch(toKernel, signature, &key, &keyed);
  const uint32_t sent = static_cast<uint32_t>(data[16]) | static_cast<uint32_t>(data[17]) << 8 |
                        static_cast<uint32_t>(data[18]) << 16 |
                        static_cast<uint32_t>(data[19]) << 24;
  bool good = std::memcmp(data, signature, 16) == 0 && (!keyed || sent == key);
  if (config_.strictReserved)
    good = good && std::all_of(data + (keyed ? 20 : 16), data + kSwitchLen,
                               [](uint8_t b) { return b == 0; });
  if (!good) return Fail(kInvalidParameter, lat.other);

  if (toKernel) {
    if (!kernel_) {
      kernel_ = true;
      normal_.written = false;
      kernelPart_.written = false;
      normalBlocks_ = 0;
    }
    return Done(lat.toKernel);
  }
  if (!kernel_ || config_.staysInKernel) return Done(lat.toNormal);
  if (!normal_.written && oldNormalValid_) {
    InstallKernel();
    kernel_ = false;
    return Done(lat.toNormal);
  }
  if (!NormalComplete()) return Fail(kSequenceError, lat.toNormal);
  InstallKernel();
  InstallNormal();
  return Done(lat.toNormal + lat.reflash);
}

Result RwDrive::Block(Part& part, uint32_t size, const Command& command, const Cdb& cdb) {
  const RwLatency& lat = config_.latency;
  if (!kernel_) return Fail(kSequenceError, lat.other);
  const uint32_t offset = Be24(cdb.b + 3);
  const uint32_t length = Be24(cdb.b + 6);
  if (length == 0) return Done(lat.other);
  const uint8_t* data = DataOut(command, length);
  if (data == nullptr) return Fail(kParamListLength, lat.other);
  // Flash is programmed in order: a block may rewrite or extend what is there, not leave a gap.
  if (uint64_t{offset} + length > size || (offset != 0 && offset > part.extent))
    return Fail(kInvalidField, lat.other);
  const bool isNormal = &part == &normal_;
  if (isNormal && config_.powerLossAfterBlocks >= 0 &&
      normalBlocks_ >= config_.powerLossAfterBlocks) {
    powered_ = false;
    Result r;
    r.noResponse = true;
    return r;
  }
  if (part.bytes.size() < offset + length) part.bytes.resize(offset + length);
  std::memcpy(part.bytes.data() + offset, data, length);
  part.extent = offset == 0 ? length : std::max(part.extent, offset + length);
  part.written = true;
  if (isNormal) {
    oldNormalValid_ = false;  // the old normal part is gone once its flash is rewritten
    ++normalBlocks_;
  }
  return Done(lat.block, length);
}

bool RwDrive::NormalComplete() const {
  const std::vector<uint8_t>& b = normal_.bytes;
  return normal_.extent >= std::max<uint32_t>(config_.normalPartSize, kHdrEnd) &&
         (b[kHdrPart] == 'N' || b[kHdrPart] == 'P') &&
         std::memcmp(b.data() + kHdrKernelModel, kKernelModelOfImages, 8) == 0;
}

bool RwDrive::KernelComplete() const {
  const std::vector<uint8_t>& b = kernelPart_.bytes;
  return kernelPart_.extent >= std::max<uint32_t>(config_.kernelFlash, kHdrEnd) &&
         b[kHdrPart] == 'K' &&
         std::memcmp(b.data() + kHdrKernelModel, kKernelModelOfImages, 8) == 0;
}

void RwDrive::InstallKernel() {
  if (!kernelPart_.written || !KernelComplete()) return;
  const std::vector<uint8_t>& k = kernelPart_.bytes;
  config_.kernelVersion = TextAt(k, kHdrKernelVersion, 4);
  std::string date = TextAt(k, kHdrDate, 11);
  date.erase(date.find_last_not_of(' ') + 1);
  config_.kernelDate = date;
  kernelPart_.written = false;
}

void RwDrive::InstallNormal() {
  const std::vector<uint8_t>& n = normal_.bytes;
  std::string product = TextAt(n, kHdrProduct, 24);
  if (Printable(product)) {
    config_.vendor = product.substr(0, 8);
    config_.product = product.substr(8);
  }
  config_.revision = TextAt(n, kHdrRevision, 4);
  config_.revisionTail = static_cast<char>(n[kHdrRevision + 4]);
  config_.date = ReportedDate(n, config_.dateForm);
  config_.hwRevision = TextAt(n, kHdrHwRevision, 8);
  config_.kernelModel = TextAt(n, kHdrKernelModel, 8);
  config_.normalModel = TextAt(n, kHdrNormalModel, 8);
  kernel_ = false;
  oldNormalValid_ = true;
  normal_.written = false;
  ++reflashes_;
}

void RwDrive::PowerCycle() {
  powered_ = true;
  config_.powerLossAfterBlocks = -1;
  uint8_t discard[18];
  TakeSense(discard);
  normalBlocks_ = 0;
  InstallKernel();
  if (oldNormalValid_) {
    kernel_ = false;
  } else if (NormalComplete()) {
    InstallNormal();
  } else {
    kernel_ = true;
  }
}

std::vector<uint8_t> RwDrive::ReceivedNormal() const {
  return {normal_.bytes.begin(), normal_.bytes.begin() + normal_.extent};
}

std::vector<uint8_t> RwDrive::ReceivedKernel() const {
  return {kernelPart_.bytes.begin(), kernelPart_.bytes.begin() + kernelPart_.extent};
}

}  // namespace sim
