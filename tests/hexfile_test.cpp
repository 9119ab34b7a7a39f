// HEX firmware files of read-only drives and the patch file.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/global.h"
#include "driver/defdata.h"
#include "tests/support.h"
#include "update/dvdrom.h"

namespace {

constexpr uint8_t kUntouched = 0x5A;

// One record line with a correct checksum.
std::string Rec(int type, uint32_t address, const std::vector<uint8_t>& data,
                const char* end = "\n") {
  char field[16];
  std::snprintf(field, sizeof field, "%02X%04X%02X", static_cast<unsigned>(data.size()),
                address & 0xFFFF, type);
  std::string line = std::string(":") + field;
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + address + type;
  for (uint8_t b : data) {
    std::snprintf(field, sizeof field, "%02X", b);
    line += field;
    sum += b;
  }
  std::snprintf(field, sizeof field, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + field + end;
}
std::string Data(uint32_t address, const std::vector<uint8_t>& data) {
  return Rec(0, address, data);
}
std::string Segment(uint16_t value) {
  return Rec(2, 0, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}
const std::string kEnd = ":00000001FF\n";

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i)
    v[i] = static_cast<uint8_t>(first + i);
  return v;
}

class HexFile : public ::testing::Test {
 protected:
  void SetUp() override {
    test::Fresh(machine);
    SetDefData();
    SelectDefEntry(0);
    std::strcpy(gFwFile, "ROM.HEX");
    gFwSize = 0x40;
    buff.assign(kBuffSize, 0);
    text.assign(kBuffSize, kUntouched);
    pBuff = buff.data();
    pText = text.data();
    gTextSize = kBuffSize;
  }
  void TearDown() override {
    pBuff = pText = nullptr;
    gTextSize = 0;
    machine.Uninstall();
  }
  void Write(const std::string& name, const std::string& content) {
    machine.WriteFile(name, std::vector<uint8_t>(content.begin(), content.end()));
  }
  bool TextUntouched() const {
    for (uint8_t b : text)
      if (b != kUntouched) return false;
    return true;
  }
  // Image bytes [from, from+n) all equal to v.
  bool TextIs(size_t from, size_t n, uint8_t v) const {
    for (size_t i = from; i < from + n; ++i)
      if (text[i] != v) return false;
    return true;
  }

  sim::Machine machine;
  std::vector<uint8_t> buff, text;
};

TEST_F(HexFile, UncoveredBytesAreFFAndNothingBeyondTheImageIsWritten) {
  Write("ROM.HEX", Data(0x10, {1, 2, 3, 4}) + kEnd);
  ASSERT_EQ(LoadHexToBuf(), 0);
  EXPECT_TRUE(TextIs(0, 0x10, 0xFF));
  EXPECT_EQ(text[0x10], 1);
  EXPECT_EQ(text[0x13], 4);
  EXPECT_TRUE(TextIs(0x14, 0x2C, 0xFF));
  EXPECT_EQ(text[0x40], kUntouched);
  EXPECT_EQ(machine.console, test::En(17));
  EXPECT_TRUE(machine.boxes.empty());
}

TEST_F(HexFile, EndOfFileWithoutEndRecordLoads) {
  Write("ROM.HEX", Data(0, {0xAB}));
  ASSERT_EQ(LoadHexToBuf(), 0);
  EXPECT_EQ(text[0], 0xAB);
}

TEST_F(HexFile, ReadingStopsOnceTheImageIsFull) {
  gFwSize = 0x20;
  // A second image would overwrite the first; the invalid line would fail the load.
  Write("ROM.HEX", Data(0, Bytes(16, 0)) + Data(16, Bytes(16, 16)) + "garbage\n" +
                       Data(0, Bytes(16, 0x80)) + kEnd);
  ASSERT_EQ(LoadHexToBuf(), 0);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(text[0x1F], 0x1F);
  EXPECT_EQ(machine.console, test::En(17));
}

TEST_F(HexFile, ZeroLengthRecordCountsNothing) {
  gFwSize = 16;
  // 15 bytes do not fill the image, so the bad line after them is read.
  Write("ROM.HEX", Data(0, {}) + Data(0, Bytes(15, 0)) + "\n" + kEnd);
  EXPECT_EQ(LoadHexToBuf(), -1);
  EXPECT_EQ(machine.console, test::En(16));
}

TEST_F(HexFile, SegmentRecordMovesDataAndLinearAddressDoesNot) {
  gFwSize = 0x20000;
  Write("ROM.HEX", Segment(0x1000) + Rec(4, 0, {0x00, 0x02}) + Data(0x0010, {0xC3}) + kEnd);
  ASSERT_EQ(LoadHexToBuf(), 0);
  EXPECT_EQ(text[0x10010], 0xC3);
  EXPECT_EQ(text[0x10], 0xFF);
}

TEST_F(HexFile, CrLfLineEndsAndLowerCaseDigitsAndWrongChecksums) {
  std::string line = Rec(0, 0x0A, {0xBE, 0xEF}, "\r\n");
  for (char& c : line)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  line.replace(line.size() - 4, 2, "00");  // a checksum that does not add up
  Write("ROM.HEX", line + ":00000001ff\r\n");
  ASSERT_EQ(LoadHexToBuf(), 0);
  EXPECT_EQ(text[0x0A], 0xBE);
  EXPECT_EQ(text[0x0B], 0xEF);
}

TEST_F(HexFile, MissingStartCharacterFailsWithMessage16) {
  const char* bad[] = {"\n", "\r\n", " :00000001FF\n", "10000000\n"};
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    machine.console.clear();
    Write("ROM.HEX", Data(0, {1}) + line + kEnd);
    EXPECT_EQ(LoadHexToBuf(), -1);
    EXPECT_EQ(machine.console, test::En(16));
    EXPECT_TRUE(TextUntouched());
  }
}

TEST_F(HexFile, MalformedRecordsFailWithoutMessage) {
  const char* bad[] = {
      ":\n",                // no header
      ":0G00000000\n",      // count not hexadecimal
      ":01000Z0011FF\n",    // address not hexadecimal
      ":04000000010203\n",  // shorter than its count
      ":020000000X01FF\n",  // data not hexadecimal
      ":0000000200\n",      // segment record without its value
      ":02000002 10000\n",  // segment value not hexadecimal
  };
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    machine.console.clear();
    Write("ROM.HEX", Data(0, {1}) + line + "\n" + kEnd);
    EXPECT_EQ(LoadHexToBuf(), -1);
    EXPECT_EQ(machine.console, "");
    EXPECT_TRUE(TextUntouched());
  }
}

TEST_F(HexFile, ImageSizeMustFitBothBuffers) {
  Write("ROM.HEX", Data(0, {1}) + kEnd);
  const int32_t sizes[] = {0, -1, static_cast<int32_t>(kBuffSize) + 1};
  for (int32_t size : sizes) {
    SCOPED_TRACE(size);
    gFwSize = size;
    EXPECT_EQ(LoadHexToBuf(), -1);
  }
  gFwSize = 0x1001;
  gTextSize = 0x1000;
  EXPECT_EQ(LoadHexToBuf(), -1);
  EXPECT_TRUE(TextUntouched());
  EXPECT_EQ(machine.console, "");
}

TEST_F(HexFile, MissingFileFailsWithoutMessage) {
  EXPECT_EQ(LoadHexToBuf(), -1);
  EXPECT_EQ(LoadPatchToBuf(), -1);
  EXPECT_EQ(machine.console, "");
  EXPECT_TRUE(TextUntouched());
}

TEST_F(HexFile, PatchBlockIsCopiedAloneAndSurvivesTheNextImageLoad) {
  gFwSize = 0x20000;
  Write("ROM.HEX", Data(0, {0x11}) + kEnd);
  Write(kPatchFile, Data(0x0100, {0xEE}) + Segment(0x2000) + Data(0, {0x21, 0x22}) +
                        Data(0x0FFF, {0x2F}) + kEnd);
  ASSERT_EQ(LoadHexToBuf(), 0);
  ASSERT_EQ(LoadPatchToBuf(), 0);
  EXPECT_EQ(text[0x100], 0xFF);  // patch data outside the block stays in the scratch buffer
  EXPECT_EQ(text[kPatchAt], 0x21);
  EXPECT_EQ(text[kPatchAt + 1], 0x22);
  EXPECT_EQ(text[kPatchAt + 0xFFF], 0x2F);
  EXPECT_EQ(text[kPatchAt + kPatchLen], kUntouched);

  ASSERT_EQ(LoadHexToBuf(), 0);
  EXPECT_EQ(text[kPatchAt], 0x21);
  EXPECT_EQ(text[kPatchAt + 0xFFF], 0x2F);
  EXPECT_EQ(machine.console, test::En(17) + test::En(19) + test::En(17));
}

TEST_F(HexFile, PatchNeedsRoomForItsBlock) {
  Write(kPatchFile, Segment(0x2000) + Data(0, {0x21}) + kEnd);
  gTextSize = kPatchAt + kPatchLen - 1;
  EXPECT_EQ(LoadPatchToBuf(), -1);
  EXPECT_TRUE(TextUntouched());
}

}  // namespace
