// Image tools: recordable-drive headers, the date texts under the loader's reading rule, and Intel
// HEX both ways (checked against srec_cat when it is installed).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "sim/image_tools.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string At(const Bytes& image, size_t at, size_t n) {
  return std::string(image.begin() + static_cast<long>(at),
                     image.begin() + static_cast<long>(at + n));
}

// The loader's long-form rule, read with the C library's own "%02x" so that the tools are checked
// against the conversion itself rather than against a copy of it.
uint32_t ScanLongDate(const std::string& text) {
  const size_t m =
      std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(text.substr(0, 3)) / 3 + 1;
  unsigned day = 0, century = 0, year = 0;
  std::sscanf(text.c_str() + 3, "%02x", &day);
  std::sscanf(text.c_str() + 6, "%02x", &century);
  std::sscanf(text.c_str() + 8, "%02x", &year);
  return century << 24 | year << 16 | static_cast<uint32_t>(m / 10 * 16 + m % 10) << 8 | day;
}

TEST(ImageTools, RecordableImageCarriesTheHeaderFields) {
  sim::RwImageSpec want;
  want.size = 0x1000;
  want.kernelVersion = "0105";
  const Bytes image = sim::BuildRwImage(want);
  ASSERT_EQ(image.size(), 0x1000u);
  EXPECT_EQ(At(image, 0x60, 24), "KESTREL DVD-RW  QXR-515L");
  EXPECT_EQ(At(image, 0x90, 5), "1.22 ");
  EXPECT_EQ(At(image, 0xB0, 72), std::string("HW  0102") + std::string(24, ' ') + "KES_ADV " +
                                     std::string(24, ' ') + "KES_ADV ");
  EXPECT_EQ(image[0x110], 'N');
  EXPECT_EQ(At(image, 0x130, 11), "Jul25 2008 ");
  EXPECT_EQ(At(image, 0x150, 4), "0105");
}

TEST(ImageTools, DateTextsReadBackUnderTheLoadersRule) {
  auto value = [](const std::string& t) {
    return sim::LongDateValue(reinterpret_cast<const uint8_t*>(t.data()), t.size());
  };
  for (uint32_t bcd : {0x20080101u, 0x19991231u, 0x20100930u, 0x20081001u, 0x20121109u}) {
    const std::string text = sim::LongDateText(bcd);
    EXPECT_EQ(ScanLongDate(text), bcd) << text;
    EXPECT_EQ(value(text), bcd) << text;
  }
}

TEST(ImageTools, HexRoundTripsAcrossSegmentsWithAnyRecordLengthAndSoundChecksums) {
  Bytes image(0x20010);
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<uint8_t>(i * 7);
  const std::string hex = sim::ToIntelHex(image);
  EXPECT_EQ(hex.substr(0, 45), ":1000000000070E151C232A31383F464D545B6269A8\r\n");
  EXPECT_NE(hex.find("\r\n:020000021000EC\r\n"), std::string::npos);
  EXPECT_NE(hex.find("\r\n:020000022000DC\r\n"), std::string::npos);
  EXPECT_EQ(hex.substr(hex.size() - 13), ":00000001FF\r\n");
  EXPECT_EQ(sim::FromIntelHex(hex, image.size()), image);

  // Records of another length never cross a 64 KiB boundary.
  const std::string odd = sim::ToIntelHex(image, 0x30);
  EXPECT_NE(odd.find(":10FFF000"), std::string::npos);
  EXPECT_EQ(sim::FromIntelHex(odd, image.size()), image);

  // The reader checks what the writer must get right; the writer bounds what it takes.
  EXPECT_FALSE(sim::FromIntelHex(":0400100001020304E3\r\n", 0x20)) << "checksum";
  EXPECT_FALSE(sim::FromIntelHex(":0400100001020304E2\r\n", 0x12)) << "past the image";
  EXPECT_THROW(sim::ToIntelHex(Bytes(0x110001)), std::length_error);
}

TEST(ImageTools, HexAgreesWithSrecCat) {
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "no srec_cat";
  const Bytes rom = sim::BuildRomImage(sim::RomImageSpec{});
  const auto dir =
      std::filesystem::temp_directory_path() / ("reflsh-hex-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "rom.hex", std::ios::binary) << sim::ToIntelHex(rom);
  const std::string command =
      "cd " + dir.string() + " && srec_cat rom.hex -intel -o rom.bin -binary >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(dir / "rom.bin", std::ios::binary);
  const Bytes converted((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove_all(dir);
  EXPECT_EQ(converted, rom);
}

}  // namespace
