// Firmware image files of recordable drives: loading a part into pText and checking its header.
#include <cstring>

#include "common/bytes.h"
#include "common/global.h"
#include "platform/win32.h"
#include "ui/message.h"
#include "update/dvdrw.h"

// Length of the date text in its two forms ("Jul25 2008", "08/07/25").
constexpr size_t kDateLen = 11;
constexpr size_t kShortDateLen = 8;

static bool IsBlank(uint8_t c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

static int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t ReadHexField(const uint8_t* p, size_t len, int digits) {
  size_t i = 0;
  while (i < len && IsBlank(p[i]))
    ++i;
  uint32_t value = 0;
  for (int n = 0; n < digits && i < len; ++n, ++i) {
    int d = HexDigit(p[i]);
    if (d < 0) break;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  return value;
}

// Month abbreviations of the long date form; the month byte is the BCD of the position (1..12).
static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

uint32_t MonthBcd(const uint8_t* text) {
  for (uint32_t m = 1; m <= 12; ++m)
    if (SameBytes(text, kMonths[m - 1], 3)) return (m / 10) << 4 | (m % 10);
  return 0;
}

// The release date of the image in pText as BCD 0xYYYYMMDD. "Lumarca " images write it "yy/mm/dd"
// (century 20). All others have the month's English abbreviation at 0..2, then the day at 3, the
// century at 6 and the year at 8 ("Jul25 2008", "Dec 5 2009"). An unknown month gives month 0 and
// a position without digits gives 0, so a malformed date counts as old.
static uint32_t ImageDate() {
  const uint8_t* d = pText + kImgDate;
  uint32_t century, year, month, day;
  if (FieldIs(pText + kImgProduct, "Lumarca ")) {
    century = 0x20;
    year = ReadHexField(d, kShortDateLen, 2);
    month = ReadHexField(d + 3, kShortDateLen - 3, 2);
    day = ReadHexField(d + 6, kShortDateLen - 6, 2);
  } else {
    month = MonthBcd(d);
    day = ReadHexField(d + 3, kDateLen - 3, 2);
    century = ReadHexField(d + 6, kDateLen - 6, 2);
    year = ReadHexField(d + 8, kDateLen - 8, 2);
  }
  return century << 24 | year << 16 | month << 8 | day;
}

uint16_t RevisionBcd(const uint8_t* rev) {
  auto digit = [](uint8_t c) { return static_cast<uint8_t>(c - '0'); };
  uint8_t high = digit(rev[0]);
  uint8_t low = static_cast<uint8_t>(digit(rev[2]) * 16 + digit(rev[3]));
  return static_cast<uint16_t>(high << 8 | low);
}

// Reads the file whole into pText; returns the number of bytes read, or -1 when it cannot be
// read or cannot be an image: shorter than `least` bytes, or larger than pText. The size is
// checked before anything is read, so a refused file never touches the buffer.
static int32_t ReadImageFile(const char* name, uint32_t least) {
  if (pText == nullptr || gTextSize == 0) return -1;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  int32_t result = -1;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  if (size != INVALID_FILE_SIZE && high == 0 && size >= least && size <= gTextSize) {
    DWORD read = 0;
    if (ReadFile(file, pText, size, &read, nullptr) && read >= least)
      result = static_cast<int32_t>(read);
  }
  CloseHandle(file);
  return result;
}

int ChkFwFile() {
  if (pText == nullptr || gTextSize < kImgHeaderLen) return -1;
  return FieldIs(pText + kImgKernelModel, "KES_ADV ") ? 0 : -1;
}

int LoadBinToBuf(int part) {
  gFileDate = 0;
  // The kernel part's file differs from the normal part's in its eighth character.
  char name[sizeof gFwFile + 1];
  std::memcpy(name, gFwFile, sizeof gFwFile);
  name[sizeof gFwFile] = '\0';
  if (part == kPartKernel) name[7] = '0';

  // The whole kernel part is sent from pText: from a shorter file the rest of it would be
  // whatever the buffer held before.
  int32_t read = ReadImageFile(name, part == kPartKernel ? kKernelPartLen : kImgHeaderLen);
  if (read < 0) return -1;

  if (part != kPartKernel) {
    gFwSize = read;
    std::memcpy(gFwRev, pText + kImgRevision, sizeof gFwRev);
  }
  gFwVer = RevisionBcd(pText + kImgRevision);
  gFileDate = ImageDate();

  if (gFileDate < gRelDateA[gSelOemStr]) {
    ShowMsgId(69, kMsgStop);
    return -1;
  }
  uint8_t letter = pText[kImgPartLetter];
  if (part == kPartKernel) {
    if (ChkFwFile() != 0 || letter != 'K') {
      ShowMsgId(39, kMsgStop);
      return -1;
    }
  } else if (ChkFwFile() != 0 || (letter != 'N' && letter != 'P')) {
    ShowMsgId(40, kMsgStop);
    return -1;
  }
  return 0;
}
