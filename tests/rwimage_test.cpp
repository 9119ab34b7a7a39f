// Recordable-drive image files: file names, header values, the date forms and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "common/global.h"
#include "driver/defdata.h"
#include "sim/image_tools.h"
#include "tests/support.h"
#include "update/dvdrw.h"

namespace {

constexpr uint8_t kUntouched = 0xA5;
const char kNormal[] = "A0414431.122";
const char kKernel[] = "A0414430.122";

// An image of the built-in entry's drive, `size` bytes long: by default version 1.22 of the normal
// part, dated exactly the oldest date the entry accepts.
std::vector<uint8_t> Image(const sim::RwImageSpec& want = {}, size_t size = 0x400) {
  std::vector<uint8_t> img = sim::BuildRwImage(want);
  img.resize(size);
  return img;
}

class RwImage : public ::testing::Test {
 protected:
  void SetUp() override {
    test::Fresh(machine);
    SetDefData();
    SelectDefEntry(0);
    text.assign(2 * kKernelPartLen, kUntouched);
    pText = text.data();
    gTextSize = static_cast<uint32_t>(text.size());
  }
  void TearDown() override {
    pText = nullptr;
    machine.Uninstall();
  }
  // Loads `img` as `part` and returns the result; `msg` is the refusal expected (0: none), shown
  // on the console and in a box with the stop icon.
  int Load(int part, const std::vector<uint8_t>& img, int msg = 0) {
    machine.console.clear();
    machine.boxes.clear();
    machine.WriteFile(part == kPartKernel ? kKernel : kNormal, img);
    int rc = LoadBinToBuf(part);
    EXPECT_EQ(machine.console, msg == 0 ? "" : test::En(msg));
    EXPECT_EQ(machine.boxes.size(), msg == 0 ? 0u : 1u);
    for (const sim::Box& box : machine.boxes)
      EXPECT_EQ(box.flags, UINT{MB_OK | MB_ICONSTOP});
    return rc;
  }

  sim::Machine machine;
  std::vector<uint8_t> text;
};

TEST_F(RwImage, EachPartComesFromItsOwnFile) {
  ASSERT_EQ(Load(kPartNormal, Image({}, 0x600)), 0);
  EXPECT_EQ(gFwSize, 0x600);
  EXPECT_EQ(std::string(gFwRev, 5), "1.22 ");
  EXPECT_EQ(gFwVer, 0x0122);
  EXPECT_EQ(text[0x600], kUntouched);

  // The kernel image replaces the normal one but not the normal part's size and revision text.
  ASSERT_EQ(Load(kPartKernel, Image({.revision = "2.00 ", .part = 'K'}, kKernelPartLen)), 0);
  EXPECT_EQ(text[kImgPartLetter], 'K');
  EXPECT_EQ(gFwVer, 0x0200);
  EXPECT_EQ(gFwSize, 0x600);
  EXPECT_EQ(std::string(gFwRev, 5), "1.22 ");
}

TEST_F(RwImage, DateForms) {
  const struct {
    bool lumarca;
    const char* date;
    uint32_t bcd;
  } cases[] = {
      {true, "08/07/25", 0x20080725},    {false, "Jul25 2008", 0x20080725},
      {false, "Dec 5 2009", 0x20091205},  // a day with a leading blank
      {false, "Xyz25 2008", 0x20080025},  // unknown month
      {false, "Jul?? 2008", 0x20080700},  // no digit where the day is
      {true, "08/07/5x", 0x20080705},     // the digits end at the first other character
      {false, "           ", 0},          // the digits after the field do not count
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    std::string date = c.date;
    date.resize(11, ' ');
    Load(kPartNormal, Image({.vendor = c.lumarca ? "Lumarca " : "KESTREL ", .date = date + "99"}),
         c.bcd < 0x20080725 ? 69 : 0);
    EXPECT_EQ(gFileDate, c.bcd);
  }
}

TEST_F(RwImage, Refusals) {
  // The oldest accepted date is accepted; a day earlier is not.
  EXPECT_EQ(Load(kPartNormal, Image({.date = "Jul24 2008"}), 69), -1);
  // The part letter and the kernel model name decide the part.
  EXPECT_EQ(Load(kPartNormal, Image({.part = 'P'}), 0), 0);
  EXPECT_EQ(Load(kPartNormal, Image({.part = 'K'}), 40), -1);
  EXPECT_EQ(Load(kPartKernel, Image({}, kKernelPartLen), 39), -1);
  EXPECT_EQ(Load(kPartKernel, Image({.kernelModel = "KES_ADW ", .part = 'K'}, kKernelPartLen), 39),
            -1);
  EXPECT_EQ(Load(kPartNormal, Image({.kernelModel = "KES_ADW "}), 40), -1);
  EXPECT_EQ(ChkFwFile(), -1);
  // The date rule comes first: an old kernel image with the wrong letter shows 69 only.
  EXPECT_EQ(Load(kPartKernel, Image({.date = "Jan 1 2008"}, kKernelPartLen), 69), -1);
}

TEST_F(RwImage, FilesThatCannotBeImagesAreRefusedSilentlyBeforeAnythingIsRead) {
  gFwSize = 0x200000;
  EXPECT_EQ(LoadBinToBuf(kPartNormal), -1);  // missing
  EXPECT_EQ(Load(kPartNormal, Image({}, text.size() + 1)), -1);
  EXPECT_EQ(Load(kPartNormal, Image({}, kImgHeaderLen - 1)), -1);
  EXPECT_EQ(Load(kPartKernel, Image({.part = 'K'}, kKernelPartLen - 1)), -1);
  gTextSize = 0;  // no image buffer
  EXPECT_EQ(Load(kPartNormal, Image()), -1);
  EXPECT_EQ(std::count(text.begin(), text.end(), kUntouched),
            static_cast<std::ptrdiff_t>(text.size()));
  EXPECT_EQ(gFwSize, 0x200000);

  gTextSize = static_cast<uint32_t>(text.size());
  EXPECT_EQ(Load(kPartNormal, Image({}, kImgHeaderLen)), 0);
  EXPECT_EQ(Load(kPartNormal, Image({}, text.size())), 0);
}

}  // namespace
