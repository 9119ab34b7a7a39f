// HEX firmware files of read-only drives and the patch file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "common/global.h"
#include "tests/support.h"
#include "update/dvdrom.h"

namespace {

constexpr uint8_t kUntouched = 0x5A;

// One record line with a correct checksum, upper-case digits.
std::string Rec(int type, uint32_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                static_cast<uint8_t>(type)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(static_cast<uint8_t>(-std::accumulate(bytes.begin(), bytes.end(), 0)));
  std::string line = ":";
  for (uint8_t b : bytes)
    line += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return line + "\n";
}
std::string Data(uint32_t address, const std::vector<uint8_t>& data) {
  return Rec(0, address, data);
}
std::string Segment(uint16_t value) {
  return Rec(2, 0, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}
const std::string kEnd = ":00000001FF\n";

class HexFile : public ::testing::Test {
 protected:
  void SetUp() override {
    test::Fresh(machine);
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
    machine.Uninstall();
  }
  // Writes the file and loads it; `console` is what the load must print.
  int Load(const std::string& content, const std::string& console) {
    machine.console.clear();
    machine.WriteFile("ROM.HEX", std::vector<uint8_t>(content.begin(), content.end()));
    int rc = LoadHexToBuf();
    EXPECT_EQ(machine.console, console);
    return rc;
  }
  bool TextUntouched() const {
    return std::all_of(text.begin(), text.end(), [](uint8_t b) { return b == kUntouched; });
  }

  sim::Machine machine;
  std::vector<uint8_t> buff, text;
};

TEST_F(HexFile, UncoveredBytesAreFFAndTheEndRecordIsOptional) {
  ASSERT_EQ(Load(Data(0x10, {1, 2, 3, 4}), test::En(17)), 0);
  std::vector<uint8_t> image(0x41, 0xFF);
  std::iota(image.begin() + 0x10, image.begin() + 0x14, 1);
  image[0x40] = kUntouched;  // past the image: not copied
  EXPECT_EQ(std::vector<uint8_t>(text.begin(), text.begin() + 0x41), image);
}

TEST_F(HexFile, ReadingStopsOnceTheImageIsFull) {
  gFwSize = 0x20;
  // Zero-length records count nothing: 16 + 0 bytes do not fill the image, 16 + 0 + 16 do.
  // What follows would fail the load or overwrite the image if it were read.
  std::string full = Data(0, std::vector<uint8_t>(16, 0x11)) + Data(0, {}) +
                     Data(16, std::vector<uint8_t>(16, 0x22)) + "garbage\n" +
                     Data(0, std::vector<uint8_t>(16, 0x33));
  ASSERT_EQ(Load(full, test::En(17)), 0);
  EXPECT_EQ(text[0], 0x11);
  EXPECT_EQ(text[0x1F], 0x22);

  gFwSize = 0x11;
  EXPECT_EQ(Load(Data(0, std::vector<uint8_t>(16, 0x11)) + Data(0, {}) + "\n", test::En(16)), -1);
}

TEST_F(HexFile, SegmentRecordMovesDataAndLinearAddressDoesNot) {
  gFwSize = 0x20000;
  ASSERT_EQ(
      Load(Segment(0x1000) + Rec(4, 0, {0x00, 0x02}) + Data(0x0010, {0xC3}) + kEnd, test::En(17)),
      0);
  EXPECT_EQ(text[0x10010], 0xC3);
  EXPECT_EQ(text[0x10], 0xFF);
}

TEST_F(HexFile, CrLfLowerCaseAndWrongChecksumsAreAccepted) {
  ASSERT_EQ(Load(":02000a00beef00\r\n:00000001ff\r\n", test::En(17)), 0);
  EXPECT_EQ(text[0x0A], 0xBE);
  EXPECT_EQ(text[0x0B], 0xEF);
}

TEST_F(HexFile, BadLinesFailWithNothingCopied) {
  // Without the start character: message 16.
  for (const char* line : {"\n", "\r\n", " :00000001FF\n"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(Load(Data(0, {1}) + line + kEnd, test::En(16)), -1);
  }
  // Not well-formed: no message of the loader's own.
  for (const char* line : {":\n", ":0G00000000\n", ":01000Z0011FF\n", ":04000000010203\n",
                           ":020000000X01FF\n", ":0000000200\n", ":02000002 10000\n"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(Load(Data(0, {1}) + line + kEnd, ""), -1);
  }
  EXPECT_TRUE(TextUntouched());
}

TEST_F(HexFile, MissingFilesAndUnusableSizesFailSilently) {
  EXPECT_EQ(LoadHexToBuf(), -1);
  EXPECT_EQ(LoadPatchToBuf(), -1);
  for (int32_t size : {0, -1, static_cast<int32_t>(kBuffSize) + 1}) {
    gFwSize = size;
    EXPECT_EQ(Load(Data(0, {1}), ""), -1);
  }
  gFwSize = 0x1001;
  gTextSize = 0x1000;
  EXPECT_EQ(Load(Data(0, {1}), ""), -1);

  gFwSize = 0x40;
  gTextSize = kPatchAt + kPatchLen - 1;  // no room for the patch block
  std::string patch = Segment(0x2000) + Data(0, {0x21});
  machine.WriteFile(kPatchFile, std::vector<uint8_t>(patch.begin(), patch.end()));
  EXPECT_EQ(LoadPatchToBuf(), -1);
  EXPECT_TRUE(TextUntouched());
}

TEST_F(HexFile, PatchBlockIsCopiedAloneAndSurvivesTheNextImageLoad) {
  gFwSize = 0x20000;
  std::string patch =
      Data(0x0100, {0xEE}) + Segment(0x2000) + Data(0, {0x21}) + Data(0x0FFF, {0x2F}) + kEnd;
  machine.WriteFile(kPatchFile, std::vector<uint8_t>(patch.begin(), patch.end()));
  ASSERT_EQ(Load(Data(0, {0x11}), test::En(17)), 0);
  ASSERT_EQ(LoadPatchToBuf(), 0);
  EXPECT_EQ(text[0x100], 0xFF);  // patch data outside the block stays in the scratch buffer
  EXPECT_EQ(text[kPatchAt], 0x21);
  EXPECT_EQ(text[kPatchAt + 0xFFF], 0x2F);
  EXPECT_EQ(text[kPatchAt + kPatchLen], kUntouched);

  ASSERT_EQ(Load(Data(0, {0x11}), test::En(17)), 0);
  EXPECT_EQ(text[kPatchAt], 0x21);
  EXPECT_EQ(text[kPatchAt + 0xFFF], 0x2F);
}

}  // namespace
