#include "sim/image_tools.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Eight pattern bytes per 64-bit mix of (seed, index / 8).
void FillPattern(std::vector<uint8_t>& image, uint32_t seed) {
  for (size_t i = 0; i < image.size(); i += 8) {
    uint64_t z = (static_cast<uint64_t>(seed) << 40 ^ i) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    for (size_t k = 0; k < 8 && i + k < image.size(); ++k)
      image[i + k] = static_cast<uint8_t>(z >> (8 * k));
  }
}

// Writes `text` at `at`, cut or blank-padded to `width` bytes.
void PutText(std::vector<uint8_t>& image, size_t at, const std::string& text, size_t width) {
  for (size_t i = 0; i < width && at + i < image.size(); ++i)
    image[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

// The conversion "%02x" at `pos`: leading white space skipped, then at most two hexadecimal
// digits. 0 when there are none or the text ends first.
uint32_t Hex2At(const uint8_t* text, size_t len, size_t pos) {
  while (pos < len && std::isspace(text[pos]))
    ++pos;
  uint32_t value = 0;
  for (int digits = 0; digits < 2 && pos < len && std::isxdigit(text[pos]); ++digits, ++pos) {
    int c = std::tolower(text[pos]);
    value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  return value;
}

int MonthIndex(uint32_t bcdMonth) {
  int m = static_cast<int>((bcdMonth >> 4) * 10 + (bcdMonth & 0xF));
  return m >= 1 && m <= 12 ? m - 1 : -1;
}

}  // namespace

std::string ShortDateText(uint32_t bcd) {
  char text[16];
  std::snprintf(text, sizeof text, "%02x/%02x/%02x", (bcd >> 16) & 0xFF, (bcd >> 8) & 0xFF,
                bcd & 0xFF);
  return text;
}

std::string LongDateText(uint32_t bcd) {
  int m = MonthIndex((bcd >> 8) & 0xFF);
  char text[24];
  std::snprintf(text, sizeof text, "%s%02x %02x%02x ", m >= 0 ? kMonths[m] : "???", bcd & 0xFF,
                bcd >> 24, (bcd >> 16) & 0xFF);
  return text;
}

uint32_t ShortDateValue(const uint8_t* text, size_t len) {
  return 0x20u << 24 | Hex2At(text, len, 0) << 16 | Hex2At(text, len, 3) << 8 |
         Hex2At(text, len, 6);
}

uint32_t LongDateValue(const uint8_t* text, size_t len) {
  uint32_t month = 0;
  for (int m = 0; m < 12 && len >= 3; ++m) {
    if (std::memcmp(text, kMonths[m], 3) == 0) {
      month = static_cast<uint32_t>(m < 9 ? m + 1 : 0x10 + (m - 9));
      break;
    }
  }
  return Hex2At(text, len, 6) << 24 | Hex2At(text, len, 8) << 16 | month << 8 |
         Hex2At(text, len, 3);
}

std::vector<uint8_t> BuildRwImage(const RwImageSpec& layout) {
  std::vector<uint8_t> image(std::max(layout.size, kHdrEnd));
  FillPattern(image, layout.seed);
  PutText(image, kHdrProduct, layout.vendor, 8);
  PutText(image, kHdrProduct + 8, layout.product, kHdrRevision - kHdrProduct - 8);
  PutText(image, kHdrRevision, layout.revision, kHdrHwRevision - kHdrRevision);
  PutText(image, kHdrHwRevision, layout.hwRevision, kHdrKernelModel - kHdrHwRevision);
  PutText(image, kHdrKernelModel, layout.kernelModel, kHdrNormalModel - kHdrKernelModel);
  PutText(image, kHdrNormalModel, layout.normalModel, kHdrPart - kHdrNormalModel);
  PutText(image, kHdrPart, std::string(1, layout.part), kHdrDate - kHdrPart);
  PutText(image, kHdrDate, layout.date, kHdrKernelVersion - kHdrDate);
  PutText(image, kHdrKernelVersion, layout.kernelVersion, kHdrEnd - kHdrKernelVersion);
  return image;
}

uint32_t RomIdentityAddress(RomPlace place) {
  switch (place) {
    case RomPlace::At1000:
      return 0x1000;
    case RomPlace::At1010:
      return 0x1010;
    case RomPlace::At1C010:
      return 0x1C010;
    case RomPlace::At1F000:
      return 0x1F000;
  }
  return 0x1000;
}

std::vector<uint8_t> BuildRomImage(const RomImageSpec& layout) {
  uint32_t id = RomIdentityAddress(layout.place);
  std::vector<uint8_t> image(std::max<size_t>(layout.size, id + kRomDate + kRomDateLen));
  FillPattern(image, layout.seed);
  PutText(image, id + kRomModel, layout.model, 16);
  PutText(image, id + kRomCpu, layout.cpu, 16);
  PutText(image, id + kRomRevision, layout.revision, 4);
  PutText(image, id + kRomDate, layout.date, kRomDateLen);
  return image;
}

std::string ToIntelHex(const std::vector<uint8_t>& image, size_t perRecord) {
  if (image.size() > 0x110000) throw std::length_error("image too large for segment addresses");
  perRecord = std::clamp<size_t>(perRecord, 1, 255);
  std::string out;
  char line[600];
  auto record = [&](uint8_t type, uint16_t address, const uint8_t* data, size_t n) {
    uint32_t sum = static_cast<uint32_t>(n) + (address >> 8) + (address & 0xFF) + type;
    int at = std::snprintf(line, sizeof line, ":%02zX%04X%02X", n, address, type);
    for (size_t i = 0; i < n; ++i) {
      at += std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "%02X", data[i]);
      sum += data[i];
    }
    std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "%02X\r\n",
                  (0x100 - sum) & 0xFF);
    out += line;
  };
  for (size_t at = 0; at < image.size();) {
    if (at % 0x10000 == 0 && at > 0) {
      uint8_t segment[2] = {static_cast<uint8_t>(at >> 12), 0};  // (at >> 4) big-endian
      record(2, 0, segment, 2);
    }
    size_t n = std::min({perRecord, image.size() - at, 0x10000 - at % 0x10000});
    record(0, static_cast<uint16_t>(at & 0xFFFF), image.data() + at, n);
    at += n;
  }
  record(1, 0, nullptr, 0);
  return out;
}

std::optional<std::vector<uint8_t>> FromIntelHex(const std::string& text, size_t size) {
  std::vector<uint8_t> image(size, 0xFF);
  uint32_t base = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    if (line.empty()) continue;
    if (line[0] != ':' || line.size() < 11 || line.size() % 2 != 1) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i < line.size(); i += 2) {
      if (!std::isxdigit(static_cast<unsigned char>(line[i])) ||
          !std::isxdigit(static_cast<unsigned char>(line[i + 1])))
        return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    size_t n = bytes[0];
    if (bytes.size() != n + 5) return std::nullopt;
    uint8_t sum = 0;
    for (uint8_t b : bytes)
      sum = static_cast<uint8_t>(sum + b);
    if (sum != 0) return std::nullopt;
    uint32_t address = static_cast<uint32_t>(bytes[1]) << 8 | bytes[2];
    const uint8_t* data = bytes.data() + 4;
    switch (bytes[3]) {
      case 0:
        if (base + address + n > size) return std::nullopt;
        std::memcpy(image.data() + base + address, data, n);
        break;
      case 1:
        return image;
      case 2:
        if (n != 2) return std::nullopt;
        base = (static_cast<uint32_t>(data[0]) << 8 | data[1]) << 4;
        break;
      case 4:
        if (n != 2) return std::nullopt;
        base = (static_cast<uint32_t>(data[0]) << 8 | data[1]) << 16;
        break;
      default:
        break;
    }
  }
  return image;
}

}  // namespace sim
