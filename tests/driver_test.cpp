// The program driver, run whole over a simulated machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/global.h"
#include "tests/support.h"

using ::testing::StartsWith;

namespace {

const char kBanner[] = "\n/// ODD Firmware Update Utility Ver2.57C\n";

TEST(Driver, NoTargetEndsWithMessage28AndExitCode1) {
  sim::Machine machine;
  machine.answers = {IDOK};
  EXPECT_EQ(test::RunMain(machine), 1);
  EXPECT_EQ(machine.console, std::string(kBanner) + "\r\nAvailable target is not found.");
  ASSERT_EQ(machine.boxes.size(), 1u);
  EXPECT_EQ(machine.boxes[0].text, "\r\nAvailable target is not found.");
  EXPECT_EQ(machine.boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
}

TEST(Driver, ArgumentsAreIgnored) {
  sim::Machine plain, withArgs;
  int a = test::RunMain(plain);
  int b = test::RunMain(withArgs, {"-f", "--help", "A0414431.121"});
  EXPECT_EQ(a, b);
  EXPECT_EQ(plain.console, withArgs.console);
  EXPECT_EQ(plain.boxes.size(), withArgs.boxes.size());
}

TEST(Driver, JapaneseConsoleKeepsTheEnglishBanner) {
  sim::Machine machine;
  machine.codePage = 932;
  EXPECT_EQ(test::RunMain(machine), 1);
  EXPECT_EQ(gOemCodePage, 932u);
  EXPECT_EQ(machine.console, std::string(kBanner) + "\r\n対象となるドライブが見つかりません。");
}

}  // namespace
