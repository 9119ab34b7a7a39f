// Recordable-drive image files: file names, header values, the date forms and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/global.h"
#include "driver/defdata.h"
#include "tests/support.h"
#include "update/dvdrw.h"

namespace {

constexpr uint8_t kUntouched = 0xA5;

// An image with the built-in entry's header: a normal part of version 1.22 dated exactly the
// entry's oldest accepted date.
std::vector<uint8_t> Image(char part = 'N', const std::string& date = "Jul25 2008",
                           size_t size = 0x400) {
  std::vector<uint8_t> img(std::max<size_t>(size, kImgHeaderLen), 0);
  auto put = [&](uint32_t at, const std::string& text) {
    std::memcpy(img.data() + at, text.data(), text.size());
  };
  put(kImgProduct, "KESTREL DVD-RW  QXR-515L");
  put(kImgRevision, "1.22A");
  put(kImgHwRevision, "HW  0102");
  put(kImgKernelModel, "KES_ADV ");
  put(kImgNormalModel, "NORMAL  ");
  img[kImgPartLetter] = static_cast<uint8_t>(part);
  put(kImgDate, date);
  put(kImgKernelVer, "K100");
  img.resize(size);
  return img;
}

void Put(std::vector<uint8_t>& img, uint32_t at, const std::string& text) {
  std::memcpy(img.data() + at, text.data(), text.size());
}

class RwImage : public ::testing::Test {
 protected:
  void SetUp() override {
    test::Fresh(machine);
    SetDefData();
    SelectDefEntry(0);
    text.assign(0x10000, kUntouched);
    pText = text.data();
    gTextSize = static_cast<uint32_t>(text.size());
  }
  void TearDown() override {
    pText = nullptr;
    gTextSize = 0;
    machine.Uninstall();
  }
  bool TextUntouched() const {
    for (uint8_t b : text)
      if (b != kUntouched) return false;
    return true;
  }
  void ExpectNoMessage() const {
    EXPECT_EQ(machine.console, "");
    EXPECT_TRUE(machine.boxes.empty());
  }
  // The refusal message `id`, on the console and in a box with the stop icon, and nothing else.
  void ExpectRefusal(int id) const {
    EXPECT_EQ(machine.console, test::En(id));
    ASSERT_EQ(machine.boxes.size(), 1u);
    EXPECT_EQ(machine.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
  }

  sim::Machine machine;
  std::vector<uint8_t> text;
};

TEST_F(RwImage, BuiltInEntryLoadsEachPartFromItsOwnFile) {
  machine.WriteFile("A0414431.122", Image('N', "Jul25 2008", 0x600));
  machine.WriteFile("A0414430.122", Image('K', "Jul25 2008", 0x500));

  ASSERT_EQ(LoadBinToBuf(kPartNormal), 0);
  EXPECT_EQ(gFwSize, 0x600);
  EXPECT_EQ(std::string(gFwRev, 5), "1.22A");
  EXPECT_EQ(gFwVer, 0x0122);
  EXPECT_EQ(gFileDate, 0x20080725u);
  EXPECT_EQ(text[0x5FF], 0);
  EXPECT_EQ(text[0x600], kUntouched);

  // The kernel part replaces the image but leaves the normal part's size and revision text.
  ASSERT_EQ(LoadBinToBuf(kPartKernel), 0);
  EXPECT_EQ(text[kImgPartLetter], 'K');
  EXPECT_EQ(gFwSize, 0x600);
  EXPECT_EQ(std::string(gFwRev, 5), "1.22A");
  EXPECT_STREQ(gFwFile, "A0414431.122");
  ExpectNoMessage();
}

TEST_F(RwImage, RevisionTextGivesBcdVersion) {
  const struct {
    const char* rev;
    uint16_t bcd;
  } cases[] = {{"1.22 ", 0x0122}, {"2.00 ", 0x0200}, {"0.09 ", 0x0009}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rev);
    std::vector<uint8_t> img = Image();
    Put(img, kImgRevision, c.rev);
    machine.WriteFile("A0414431.122", img);
    ASSERT_EQ(LoadBinToBuf(kPartNormal), 0);
    EXPECT_EQ(gFwVer, c.bcd);
  }
}

TEST_F(RwImage, DateForms) {
  const struct {
    bool shortForm;
    const char* date;
    uint32_t bcd;
  } cases[] = {
      {true, "08/07/25", 0x20080725},     {false, "Jul25 2008", 0x20080725},
      {false, "Dec 5 2009", 0x20091205},   // day padded with a blank
      {false, "Xyz25 2008", 0x20080025},   // unknown month
      {false, "Jul?? 2008", 0x20080700},   // no digit where the day is
      {false, "           ", 0x00000000},  // blanks: the digits after the field do not count
      {true, "08/07/5x", 0x20080705},      // digits stop at the first other character
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    std::vector<uint8_t> img = Image('N', c.date);
    if (c.shortForm) Put(img, kImgProduct, "Lumarca ");
    Put(img, kImgDate + 11, "99");
    machine.WriteFile("A0414431.122", img);
    LoadBinToBuf(kPartNormal);
    EXPECT_EQ(gFileDate, c.bcd);
  }
}

TEST_F(RwImage, OldestAcceptedDateIsTheBoundary) {
  machine.WriteFile("A0414431.122", Image('N', "Jul25 2008"));
  EXPECT_EQ(LoadBinToBuf(kPartNormal), 0);
  ExpectNoMessage();

  machine.WriteFile("A0414431.122", Image('N', "Jul24 2008"));
  EXPECT_EQ(LoadBinToBuf(kPartNormal), -1);
  EXPECT_EQ(gFileDate, 0x20080724u);
  ExpectRefusal(69);
}

TEST_F(RwImage, PartLetterAndKernelModelDecideThePart) {
  const struct {
    int part;
    char letter;
    const char* kernelModel;
    int msg;  // 0: accepted
  } cases[] = {
      {kPartNormal, 'N', "KES_ADV ", 0},  {kPartNormal, 'P', "KES_ADV ", 0},
      {kPartNormal, 'K', "KES_ADV ", 40}, {kPartNormal, 'N', "KES_ADW ", 40},
      {kPartKernel, 'K', "KES_ADV ", 0},  {kPartKernel, 'N', "KES_ADV ", 39},
      {kPartKernel, 'P', "KES_ADV ", 39}, {kPartKernel, 'K', "kes_adv ", 39},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.letter) + (c.part == kPartKernel ? " as kernel" : " as normal"));
    machine.console.clear();
    machine.boxes.clear();
    std::vector<uint8_t> img = Image(c.letter);
    Put(img, kImgKernelModel, c.kernelModel);
    machine.WriteFile(c.part == kPartKernel ? "A0414430.122" : "A0414431.122", img);
    if (c.msg == 0) {
      EXPECT_EQ(LoadBinToBuf(c.part), 0);
      EXPECT_EQ(ChkFwFile(), 0);
      ExpectNoMessage();
    } else {
      EXPECT_EQ(LoadBinToBuf(c.part), -1);
      ExpectRefusal(c.msg);
    }
  }
}

TEST_F(RwImage, DateRuleComesBeforeThePartLetter) {
  machine.WriteFile("A0414430.122", Image('N', "Jan 1 2008"));
  EXPECT_EQ(LoadBinToBuf(kPartKernel), -1);
  ExpectRefusal(69);
}

TEST_F(RwImage, UnreadableFilesAreRefusedSilentlyBeforeAnythingIsRead) {
  gFwSize = 0x200000;
  // Missing.
  EXPECT_EQ(LoadBinToBuf(kPartNormal), -1);
  // One byte larger than the image buffer.
  machine.WriteFile("A0414431.122", Image('N', "Jul25 2008", text.size() + 1));
  EXPECT_EQ(LoadBinToBuf(kPartNormal), -1);
  // One byte shorter than the header.
  machine.WriteFile("A0414431.122", Image('N', "Jul25 2008", kImgHeaderLen - 1));
  EXPECT_EQ(LoadBinToBuf(kPartNormal), -1);
  // No image buffer at all.
  machine.WriteFile("A0414431.122", Image());
  gTextSize = 0;
  EXPECT_EQ(LoadBinToBuf(kPartNormal), -1);

  EXPECT_TRUE(TextUntouched());
  EXPECT_EQ(gFwSize, 0x200000);
  ExpectNoMessage();
}

TEST_F(RwImage, SizesAtTheLimitsAreAccepted) {
  machine.WriteFile("A0414431.122", Image('N', "Jul25 2008", kImgHeaderLen));
  EXPECT_EQ(LoadBinToBuf(kPartNormal), 0);
  EXPECT_EQ(gFwSize, static_cast<int32_t>(kImgHeaderLen));
  machine.WriteFile("A0414431.122", Image('N', "Jul25 2008", text.size()));
  EXPECT_EQ(LoadBinToBuf(kPartNormal), 0);
  EXPECT_EQ(gFwSize, static_cast<int32_t>(text.size()));
}

TEST(HexField, ReadsLikeTwoOrFourDigitConversions) {
  const struct {
    const char* text;
    int digits;
    uint32_t value;
  } cases[] = {
      {"25", 2, 0x25},  {" 5 ", 2, 0x05}, {"0102", 4, 0x0102}, {"ab1F", 4, 0xAB1F},
      {"123", 2, 0x12}, {"x1", 2, 0},     {"  ", 2, 0},        {"7g", 2, 0x07},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReadHexField(reinterpret_cast<const uint8_t*>(c.text), std::strlen(c.text), c.digits),
              c.value);
  }
  // Never beyond the field, even when blanks fill it.
  const uint8_t blanksThenDigits[] = {' ', ' ', '4', '2'};
  EXPECT_EQ(ReadHexField(blanksThenDigits, 2, 2), 0u);
}

}  // namespace
