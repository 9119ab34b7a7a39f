// Image tools: recordable-drive headers, the date texts under the loader's reading rule, ROM
// identities and Intel HEX both ways (checked against srec_cat when it is installed).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "sim/image_tools.h"

namespace {

std::string At(const std::vector<uint8_t>& image, size_t at, size_t n) {
  return std::string(image.begin() + static_cast<long>(at),
                     image.begin() + static_cast<long>(at + n));
}

// The loader's long-form rule, read with the C library's own "%02x" so that the tools are checked
// against the conversion itself rather than against a copy of it.
uint32_t ScanLongDate(const std::string& text) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static const uint32_t monthBytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10, 0x11, 0x12};
  uint32_t month = 0;
  for (int m = 0; m < 12; ++m)
    if (text.compare(0, 3, months[m]) == 0) month = monthBytes[m];
  unsigned day = 0, century = 0, year = 0;
  std::sscanf(text.c_str() + 3, "%02x", &day);
  std::sscanf(text.c_str() + 6, "%02x", &century);
  std::sscanf(text.c_str() + 8, "%02x", &year);
  return century << 24 | year << 16 | month << 8 | day;
}

TEST(ImageTools, RecordableImageCarriesTheHeaderFields) {
  sim::RwImageSpec spec;
  spec.size = 0x1000;
  spec.revision = "1.22A";
  spec.date = "08/07/25";
  spec.kernelVersion = "0001";
  spec.part = 'P';
  std::vector<uint8_t> image = sim::BuildRwImage(spec);
  ASSERT_EQ(image.size(), 0x1000u);
  EXPECT_EQ(At(image, 0x60, 24), "KESTREL DVD-RW  QXR-515L");
  EXPECT_EQ(At(image, 0x90, 5), "1.22A");
  EXPECT_EQ(At(image, 0xB0, 8), "HW  0102");
  EXPECT_EQ(At(image, 0xD0, 8), "KES_ADV ");
  EXPECT_EQ(At(image, 0xF0, 8), "KES_ADV ");
  EXPECT_EQ(image[0x110], 'P');
  EXPECT_EQ(At(image, 0x130, 11), "08/07/25   ");
  EXPECT_EQ(At(image, 0x150, 4), "0001");

  EXPECT_EQ(sim::BuildRwImage(spec), image) << "deterministic";
  spec.seed = 7;
  std::vector<uint8_t> other = sim::BuildRwImage(spec);
  EXPECT_EQ(At(other, 0x60, 0x100), At(image, 0x60, 0x100));
  EXPECT_NE(At(other, 0x200, 0x100), At(image, 0x200, 0x100));
}

TEST(ImageTools, LongDateTextGivesItsDateUnderTheLoadersRule) {
  EXPECT_EQ(sim::LongDateText(0x20080725), "Jul25 2008 ");
  for (uint32_t bcd : {0x20080725u, 0x20080101u, 0x19991231u, 0x20100930u, 0x20081001u, 0x20121109u,
                       0x20000229u}) {
    const std::string text = sim::LongDateText(bcd);
    EXPECT_EQ(text.size(), 11u);
    EXPECT_EQ(ScanLongDate(text), bcd) << text;
    EXPECT_EQ(sim::LongDateValue(reinterpret_cast<const uint8_t*>(text.data()), text.size()), bcd);
  }
}

TEST(ImageTools, DateReadingsMatchTheConversion) {
  auto longValue = [](const std::string& t) {
    return sim::LongDateValue(reinterpret_cast<const uint8_t*>(t.data()), t.size());
  };
  auto shortValue = [](const std::string& t) {
    return sim::ShortDateValue(reinterpret_cast<const uint8_t*>(t.data()), t.size());
  };
  EXPECT_EQ(shortValue("08/07/25"), 0x20080725u);
  EXPECT_EQ(sim::ShortDateText(0x20080725), "08/07/25");
  // Blanks before a position are skipped; a text that is not a month leaves the month 0.
  for (const std::string t : {"Jul 5 2008 ", "Xyz25 2008 ", "jul25 2008 ", "Dec31 1999 "})
    EXPECT_EQ(longValue(t), ScanLongDate(t)) << t;
  EXPECT_EQ(longValue("Jul 5 2008 "), 0x20080705u);
  EXPECT_EQ(longValue("Xyz25 2008 "), 0x20080025u);
}

TEST(ImageTools, RomIdentitySitsWhereTheDriveIsSearched) {
  const struct {
    sim::RomPlace place;
    uint32_t model;
  } cases[] = {{sim::RomPlace::At1000, 0x1000},
               {sim::RomPlace::At1010, 0x1010},
               {sim::RomPlace::At1C010, 0x1C010},
               {sim::RomPlace::At1F000, 0x1F000}};
  for (const auto& c : cases) {
    sim::RomImageSpec spec;
    spec.place = c.place;
    spec.revision = "1.07";
    std::vector<uint8_t> rom = sim::BuildRomImage(spec);
    ASSERT_EQ(rom.size(), 0x20000u);
    EXPECT_EQ(At(rom, c.model, 16), "KESTREL QXD-516 ");
    EXPECT_EQ(At(rom, c.model + 16, 16), spec.cpu);
    EXPECT_EQ(At(rom, c.model + 32, 14), "1.072007/11/02");
    if (c.model != 0x1000) {
      EXPECT_NE(At(rom, 0x1000, 8), "KESTREL ");
    }
  }
}

TEST(ImageTools, HexRecordsAndSegments) {
  std::vector<uint8_t> image(0x20010);
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<uint8_t>(i * 7);
  const std::string hex = sim::ToIntelHex(image);
  EXPECT_EQ(hex.substr(0, 45), ":1000000000070E151C232A31383F464D545B6269A8\r\n");
  EXPECT_NE(hex.find("\r\n:020000021000EC\r\n"), std::string::npos);
  EXPECT_NE(hex.find("\r\n:020000022000DC\r\n"), std::string::npos);
  EXPECT_EQ(hex.substr(hex.size() - 13), ":00000001FF\r\n");

  auto back = sim::FromIntelHex(hex, image.size());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, image);

  // Records of another length never cross a 64 KiB boundary.
  std::string odd = sim::ToIntelHex(image, 0x30);
  EXPECT_NE(odd.find(":10FFF000"), std::string::npos);
  back = sim::FromIntelHex(odd, image.size());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, image);
}

TEST(ImageTools, HexReaderRefusesWhatIsNotSound) {
  const std::string good = ":0400100001020304E2\r\n:00000001FF\r\n";
  auto image = sim::FromIntelHex(good, 0x20);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ((*image)[0x0F], 0xFF);
  EXPECT_EQ((*image)[0x10], 0x01);
  EXPECT_EQ((*image)[0x13], 0x04);
  EXPECT_FALSE(sim::FromIntelHex(":0400100001020304E3\r\n", 0x20)) << "checksum";
  EXPECT_FALSE(sim::FromIntelHex(":0400100001020304E2\r\n", 0x12)) << "past the image";
  EXPECT_FALSE(sim::FromIntelHex("0400100001020304E2\r\n", 0x20)) << "start character";
  EXPECT_FALSE(sim::FromIntelHex(":04001000010203E2\r\n", 0x20)) << "short record";
  EXPECT_THROW(sim::ToIntelHex(std::vector<uint8_t>(0x110001)), std::length_error);
}

TEST(ImageTools, HexAgreesWithSrecCat) {
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "no srec_cat";
  std::vector<uint8_t> rom = sim::BuildRomImage(sim::RomImageSpec{});
  const auto dir =
      std::filesystem::temp_directory_path() / ("reflsh-hex-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto hexPath = dir / "rom.hex";
  const auto binPath = dir / "rom.bin";
  std::ofstream(hexPath, std::ios::binary) << sim::ToIntelHex(rom);
  const std::string command = "srec_cat " + hexPath.string() + " -intel -o " + binPath.string() +
                              " -binary >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(binPath, std::ios::binary);
  std::vector<uint8_t> converted((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  std::filesystem::remove_all(dir);
  EXPECT_EQ(converted, rom);
}

}  // namespace
