// The message catalogue: texts, arguments, languages and presentation styles.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "common/global.h"
#include "tests/support.h"
#include "ui/message.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// What each message with arguments takes, in order; every other text takes none.
const std::map<int, std::string> kArguments = {
    {11, "%.12s"},
    {31, "%d"},
    {32, "%d %.4s %.24s %.4s"},
    {34, "%d"},
    {45, "%.4s"},
    {46, "%.4s"},
    {58, "%d"},
    {82, "%.24s %.5s %.8s %.24s %.5s %.8s"},
};

// Ids without a text, in both languages.
bool HasNoText(int id) {
  return id == 18 || id == 29 || id == 38 || id == 43 || id == 79 || (id >= 88 && id <= 98);
}

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override { test::Fresh(machine); }
  sim::Machine machine;
};

TEST_F(Catalogue, BothLanguagesHaveTheSameIdsAndPlaceholders) {
  for (int id = 0; id < kMsgCount; ++id) {
    SCOPED_TRACE(id);
    ASSERT_EQ(kMsgEn[id] == nullptr, HasNoText(id));
    ASSERT_EQ(kMsgJa[id] == nullptr, HasNoText(id));
    if (HasNoText(id)) continue;
    auto expected = kArguments.count(id) ? kArguments.at(id) : std::string();
    EXPECT_EQ(test::Placeholders(kMsgEn[id]), expected);
    EXPECT_EQ(test::Placeholders(kMsgJa[id]), expected);
  }
}

TEST_F(Catalogue, JapaneseTextsAreValidShiftJis) {
  for (int id = 0; id < kMsgCount; ++id) {
    if (kMsgJa[id] == nullptr) continue;
    SCOPED_TRACE(id);
    std::string utf8 = platform::ConvertText(kMsgJa[id], "CP932", "UTF-8");
    EXPECT_EQ(platform::ConvertText(utf8, "UTF-8", "CP932"), kMsgJa[id]);
    EXPECT_THAT(utf8, Not(HasSubstr("?")));
    EXPECT_NE(utf8, kMsgEn[id]) << "not translated";
  }
}

TEST_F(Catalogue, MessagesTakeTheirArgumentsFromTheModuleVariables) {
  std::strcpy(gFwFile, "A0414431.122-and-more");
  gDevn = 3;
  gDevId = 1;
  gComplete = 2;
  std::memcpy(gFwRev, "1.22N", 5);
  std::memcpy(gInq + 8, "KESTREL DVD-RW  QXR-515L1.21 08/07/10", 37);
  static uint8_t image[0x154];
  std::memcpy(image + 0x60, "KESTREL DVD-RW  QXR-515L", 24);
  std::memcpy(image + 0x90, "1.22N", 5);
  std::memcpy(image + 0x130, "08/07/25", 8);
  pText = image;

  for (auto lang : {&test::En, &test::Ja}) {
    EXPECT_THAT(lang(11), HasSubstr("A0414431.122)"));
    EXPECT_THAT(lang(31), HasSubstr("3"));
    EXPECT_THAT(lang(32), HasSubstr("ID=1"));
    EXPECT_THAT(lang(32), HasSubstr("Ver1.22"));
    EXPECT_THAT(lang(32), HasSubstr("KESTREL DVD-RW  QXR-515L 1.21"));
    EXPECT_THAT(lang(34), HasSubstr("No.2"));
    EXPECT_THAT(lang(46), HasSubstr("ver1.22"));
    EXPECT_THAT(lang(58), HasSubstr("2"));
    EXPECT_THAT(lang(82), HasSubstr("KESTREL DVD-RW  QXR-515L 1.21  (2008/07/10)"));
    EXPECT_THAT(lang(82), HasSubstr("KESTREL DVD-RW  QXR-515L 1.22N (2008/07/25)"));
  }
  pText = nullptr;
}

TEST_F(Catalogue, QuestionBoxShowsNothingOnTheConsole) {
  gDevn = 3;
  machine.answers = {IDNO};
  EXPECT_EQ(ShowMsgId(31, kMsgYesNo), IDNO);
  EXPECT_EQ(machine.console, "");
  ASSERT_EQ(machine.boxes.size(), 1u);
  EXPECT_EQ(machine.boxes[0].text,
            "\r\n3 target device(s) is found.\r\nDo you want to update all drives ?");
  EXPECT_EQ(machine.boxes[0].caption, "REFLSH");
  EXPECT_EQ(machine.boxes[0].flags, 0x24u);
}

TEST_F(Catalogue, OkBoxStylesPrintFirstAndReturnTheButton) {
  const std::pair<int, UINT> styles[] = {{kMsgStop, 0x10}, {kMsgInfo, 0x40}, {kMsgWarn, 0x30}};
  for (auto [style, flags] : styles) {
    machine.console.clear();
    machine.boxes.clear();
    machine.answers = {IDOK};
    EXPECT_EQ(ShowMsgId(28, style), IDOK);
    EXPECT_EQ(machine.console, "\r\nAvailable target is not found.");
    ASSERT_EQ(machine.boxes.size(), 1u);
    EXPECT_EQ(machine.boxes[0].text, "\r\nAvailable target is not found.");
    EXPECT_EQ(machine.boxes[0].flags, flags);
  }
}

TEST_F(Catalogue, OkCancelStyleIsABoxOnly) {
  machine.answers = {IDCANCEL};
  EXPECT_EQ(ShowMsgId(99, kMsgOkCancel), IDCANCEL);
  EXPECT_EQ(machine.console, "");
  ASSERT_EQ(machine.boxes.size(), 1u);
  EXPECT_EQ(machine.boxes[0].flags, 0x21u);
}

TEST_F(Catalogue, LineStyleAndUnknownStylesPrintWithoutABox) {
  for (int style : {0, 5, 3, -1, 100}) {
    machine.console.clear();
    EXPECT_EQ(ShowMsgId(34, style), 0);
    EXPECT_EQ(machine.console, "\r\nStart updating the device No.1.");
  }
  EXPECT_TRUE(machine.boxes.empty());
}

TEST_F(Catalogue, IdsWithoutTextShowTheUnknownText) {
  for (int id : {18, 29, 38, 43, 79, 88, 98, 101, 1000, -1}) {
    machine.console.clear();
    ShowMsgId(id, kMsgLine);
    EXPECT_EQ(machine.console, "\r\nUnknow Message Code\r\n") << id;
  }
  gOemCodePage = 932;
  machine.codePage = 932;
  machine.console.clear();
  ShowMsgId(101, kMsgLine);
  EXPECT_EQ(machine.console, "\r\nUnknow Message Code\r\n");
}

TEST_F(Catalogue, BoxThatCannotBeShownPassesZeroOn) {
  EXPECT_EQ(ShowMsgId(31, kMsgYesNo), 0);
  EXPECT_EQ(ShowMsgId(28, kMsgInfo), 0);
  EXPECT_EQ(machine.boxes.size(), 2u);
}

TEST_F(Catalogue, CodePageChoosesTheLanguage) {
  for (UINT cp : {437u, 850u}) {
    gOemCodePage = cp;
    machine.console.clear();
    ShowMsgId(28, kMsgLine);
    EXPECT_EQ(machine.console, "\r\nAvailable target is not found.");
  }
  gOemCodePage = 932;
  machine.codePage = 932;
  machine.console.clear();
  ShowMsgId(28, kMsgLine);
  EXPECT_EQ(machine.console, "\r\n対象となるドライブが見つかりません。");
}

TEST_F(Catalogue, PrintMsgDoesNotInterpretPercentSigns) {
  PrintMsg("\rProcessing 100%% --> 50%d");
  EXPECT_EQ(machine.console, "\rProcessing 100%% --> 50%d");
}

TEST(DosCatalogue, EnglishWithShortLineEndsAndItsOwnTexts) {
  EXPECT_STREQ(MsgTextDos(28), "\nAvailable target is not found.");
  EXPECT_STREQ(MsgTextDos(36), "\nUpdate program is terminated by occuring an error.\n");
  EXPECT_STREQ(MsgTextDos(71),
               "\nThe firmware of target drive is not correct F/W.\nThis F/W is not supported by "
               "this program.");
  EXPECT_EQ(test::Placeholders(MsgTextDos(82)), "%.24s %.5s %.24s %.5s");
  for (int id : {18, 66, 67, 68, 69, 70, 74, 75, 76, 88, 99, 100})
    EXPECT_EQ(MsgTextDos(id), nullptr) << id;
  for (int id = 0; id < kDosMsgCount; ++id) {
    if (MsgTextDos(id) != nullptr) {
      EXPECT_EQ(std::strstr(MsgTextDos(id), "\r\n"), nullptr) << id;
    }
  }
}

TEST(DosCatalogue, PrintsWhateverTheStyleAndNeverShowsABox) {
  sim::Machine machine;
  test::Fresh(machine);
  gDevn = 2;
  EXPECT_EQ(ShowMsgIdDos(31, kMsgYesNo), 0);
  EXPECT_EQ(ShowMsgIdDos(69, kMsgStop), 0);
  EXPECT_EQ(machine.console,
            "\n2 target device(s) is found.\nDo you want to update all drives ?"
            "\r\nUnknow Message Code\r\n");
  EXPECT_TRUE(machine.boxes.empty());
}

}  // namespace
