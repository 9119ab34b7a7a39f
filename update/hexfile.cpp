// HEX firmware files of read-only drives: records placed into the scratch buffer, then copied
// into the image buffer.
#include <array>
#include <cstdio>
#include <cstring>

#include "common/global.h"
#include "ui/message.h"
#include "update/dvdrom.h"

// The line buffer: a record of 255 data bytes takes 523 characters with its line end.
constexpr int kLineSize = 1024;
// Positions in a record line.
constexpr size_t kAtCount = 1;
constexpr size_t kAtAddress = 3;
constexpr size_t kAtType = 7;
constexpr size_t kAtData = 9;

enum : int { kRecData = 0, kRecEnd = 1, kRecSegment = 2 };

// Value of each character as a hexadecimal digit; kNotHex for any other character (the
// terminating NUL and the line end included).
constexpr uint32_t kNotHex = 0x1000;
static constexpr std::array<uint16_t, 256> kHexValue = [] {
  std::array<uint16_t, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[c] = kNotHex;
  for (int c = '0'; c <= '9'; ++c)
    t[c] = static_cast<uint16_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c)
    t[c] = static_cast<uint16_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c)
    t[c] = static_cast<uint16_t>(c - 'A' + 10);
  return t;
}();

// The byte written as two hexadecimal digits at p; above 0xFF when either is not a digit. Both
// characters are read whatever the first is, so p + 1 must lie inside the line buffer.
static inline uint32_t HexPair(const char* p) {
  return static_cast<uint32_t>(kHexValue[static_cast<uint8_t>(p[0])]) << 4 |
         kHexValue[static_cast<uint8_t>(p[1])];
}

namespace {

// Where one load stands.
struct HexLoad {
  uint32_t base = 0;    // segment base of the data records
  uint32_t loaded = 0;  // data bytes stored so far
};

enum class Line {
  kMore,     // record taken; read on
  kEnd,      // end record
  kBad,      // not a well-formed record, or data beyond the scratch buffer
  kNoStart,  // the line does not begin with ':'
};

}  // namespace

// Acts on one record line. The whole record is decoded before anything is stored, so a bad line
// leaves the scratch buffer as it was. Fields are decoded without stopping at the line's end: its
// NUL or line-end character is not a digit, so a short line still fails, and every position read
// (at most 9 + 2 * 255 + 1) lies inside the line buffer.
static Line TakeRecord(const char* line, HexLoad& load) {
  if (line[0] != ':') return Line::kNoStart;
  const uint32_t count = HexPair(line + kAtCount);
  const uint32_t addrHi = HexPair(line + kAtAddress);
  const uint32_t addrLo = HexPair(line + kAtAddress + 2);
  const uint32_t type = HexPair(line + kAtType);
  if ((count | addrHi | addrLo | type) > 0xFF) return Line::kBad;
  const uint32_t address = addrHi << 8 | addrLo;

  uint8_t data[255];
  uint32_t bad = 0;
  const char* digits = line + kAtData;
  for (uint32_t i = 0; i < count; ++i, digits += 2) {
    const uint32_t b = HexPair(digits);
    bad |= b;
    data[i] = static_cast<uint8_t>(b);
  }
  if (bad > 0xFF) return Line::kBad;

  switch (type) {
    case kRecData: {
      const uint32_t at = load.base + address;
      if (at + count > kBuffSize) return Line::kBad;
      std::memcpy(pBuff + at, data, count);
      load.loaded += count;
      return Line::kMore;
    }
    case kRecEnd:
      return Line::kEnd;
    case kRecSegment: {
      const uint32_t segHi = HexPair(line + kAtData);
      const uint32_t segLo = HexPair(line + kAtData + 2);
      if ((segHi | segLo) > 0xFF) return Line::kBad;
      load.base = (segHi << 8 | segLo) << 4;
      return Line::kMore;
    }
    default:  // other types carry nothing for us; a linear address record leaves the base alone
      return Line::kMore;
  }
}

// True when an image of gFwSize bytes fits both buffers, and so does the block [from, from+len)
// that a successful load copies.
static bool BuffersFit(uint32_t from, uint32_t len) {
  if (pBuff == nullptr || pText == nullptr) return false;
  if (gFwSize <= 0) return false;
  uint32_t size = static_cast<uint32_t>(gFwSize);
  uint64_t end = uint64_t{from} + len;
  return size <= kBuffSize && size <= gTextSize && end <= kBuffSize && end <= gTextSize;
}

// Parses the HEX file `name` into pBuff and, on success, copies pBuff[from, from+len) to pText and
// shows message `doneMsg`.
static int LoadHex(const char* name, uint32_t from, uint32_t len, int doneMsg) {
  if (!BuffersFit(from, len)) return -1;
  uint32_t size = static_cast<uint32_t>(gFwSize);
  std::memset(pBuff, 0xFF, size);

  // The file is read in large pieces: HEX text is nearly three times the size of its image. The
  // buffer lives until the file is closed below.
  char fileBuffer[0x10000];
  std::FILE* file = std::fopen(name, "rt");
  if (file == nullptr) return -1;
  std::setvbuf(file, fileBuffer, _IOFBF, sizeof fileBuffer);
  HexLoad load;
  char line[kLineSize] = {};  // TakeRecord may look past a short line's end
  int result = -1;
  for (;;) {
    if (std::fgets(line, kLineSize, file) == nullptr) {
      if (!std::ferror(file)) result = 0;
      break;
    }
    Line taken = TakeRecord(line, load);
    if (taken == Line::kNoStart) {
      ShowMsgId(16, kMsgLine);
      break;
    }
    if (taken == Line::kBad) break;
    // The image is complete: whatever follows is not read.
    if (taken == Line::kEnd || load.loaded >= size) {
      result = 0;
      break;
    }
  }
  std::fclose(file);
  if (result != 0) return -1;

  std::memcpy(pText + from, pBuff + from, len);
  ShowMsgId(doneMsg, kMsgLine);
  return 0;
}

int LoadHexToBuf() {
  char name[sizeof gFwFile + 1];
  std::memcpy(name, gFwFile, sizeof gFwFile);
  name[sizeof gFwFile] = '\0';
  return LoadHex(name, 0, static_cast<uint32_t>(gFwSize), 17);
}

int LoadPatchToBuf() {
  return LoadHex(kPatchFile, kPatchAt, kPatchLen, 19);
}
