// The Linux side of the platform layer: locale, text conversion, the terminal message box.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "ui/message.h"

namespace {

TEST(Locale, JapaneseLocalesSelectCodePage932AndTheCodesetIsTheTerminals) {
  for (const char* ja : {"ja_JP.UTF-8", "ja_JP.eucJP", "ja"})
    EXPECT_EQ(platform::LocaleCodePage(ja), 932u) << ja;
  for (const char* other : {"en_US.UTF-8", "C", ""})
    EXPECT_EQ(platform::LocaleCodePage(other), 437u) << other;
  EXPECT_EQ(platform::LocaleCharset("ja_JP.eucJP@custom"), "eucJP");
  EXPECT_EQ(platform::LocaleCharset("ja_JP"), "UTF-8");
}

TEST(Locale, MessagesFollowLcAllThenLcMessagesThenLang) {
  setenv("LANG", "ja_JP.UTF-8", 1);
  setenv("LC_MESSAGES", "en_US.UTF-8", 1);
  setenv("LC_ALL", "", 1);
  EXPECT_EQ(platform::HostBackend().OemCodePage(), 437u);
  unsetenv("LC_MESSAGES");
  EXPECT_EQ(platform::HostBackend().OemCodePage(), 932u);
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(platform::HostBackend().OemCodePage(), 437u);
  unsetenv("LC_ALL");
  unsetenv("LANG");
}

TEST(Conversion, ShiftJisReachesTheTerminalsCharsetAndInvalidBytesBecomeQuestionMarks) {
  const std::string text = "\r\n対象となるドライブが見つかりません。";
  EXPECT_EQ(platform::ConsoleToTerminal(kMsgJa[28], 932, "UTF-8"), text);
  EXPECT_EQ(platform::ConsoleToTerminal(kMsgJa[28], 932, "EUC-JP"),
            platform::ConvertText(text, "UTF-8", "EUC-JP"));
  // Other code pages are passed through untouched.
  EXPECT_EQ(platform::ConsoleToTerminal("\x82\xa0 abc", 437, "UTF-8"), "\x82\xa0 abc");
  EXPECT_EQ(platform::ConvertText("a\xff\x62", "CP932", "UTF-8"), "a?b");
}

// Runs a terminal box over the given input and returns its answer; `shown` gets its output.
int Box(const char* input, UINT flags, std::string* shown = nullptr) {
  std::FILE* in = *input == '\0' ? std::fopen("/dev/null", "r")
                                 : fmemopen(const_cast<char*>(input), std::strlen(input), "r");
  char* buf = nullptr;
  size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  const int answer = platform::TerminalMessageBox("\r\nDo you want to update all drives ?",
                                                  "REFLSH", flags, in, out);
  std::fclose(out);
  std::fclose(in);
  if (shown != nullptr) shown->assign(buf, len);
  free(buf);
  return answer;
}

TEST(TerminalBox, AsksAgainUntilItUnderstandsAndEndOfInputMeansNoBox) {
  std::string shown;
  EXPECT_EQ(Box("maybe\nYES\n", MB_YESNO | MB_ICONQUESTION, &shown), IDYES);
  EXPECT_EQ(shown,
            "\n+-- REFLSH : Question --\nDo you want to update all drives ?\n[Yes/No] [Yes/No] ");
  EXPECT_EQ(Box(" No \r\n", MB_YESNO), IDNO);
  EXPECT_EQ(Box("y", MB_YESNO), IDYES);  // a last line without its end still counts
  EXPECT_EQ(Box("what\n", MB_YESNO), 0);
  EXPECT_EQ(Box("", MB_OK), 0);
  EXPECT_EQ(Box("x\nc\n", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(Box("OK\n", MB_OKCANCEL), IDOK);
  EXPECT_EQ(Box("\n", MB_OK | MB_ICONINFORMATION, &shown), IDOK);
  EXPECT_NE(shown.find("REFLSH : Information"), std::string::npos);
}

}  // namespace
