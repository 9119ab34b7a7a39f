// The built-in update definition and the selection of an entry.
#include <gtest/gtest.h>

#include <cstring>

#include "common/bytes.h"
#include "common/global.h"
#include "driver/defdata.h"

namespace {

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

TEST(Definition, BuiltInEntry) {
  ResetGlobals();
  EXPECT_EQ(SetDefData(), 1);
  EXPECT_EQ(gRefNum, 1);
  EXPECT_EQ(gOemStrCnt, 1);
  EXPECT_EQ(gFwVer, 0x122);
  EXPECT_STREQ(gFwFileA[0], "A0414431.122");
  EXPECT_TRUE(FieldIs(gVenderA[0], "KESTREL "));
  EXPECT_TRUE(FieldIs(gProductIdA[0], "DVD-RW  QXR-515L"));
  EXPECT_TRUE(FieldIs(gOemStr[0], "KES_ADV "));
  EXPECT_TRUE(AllZero(gOemStr[0] + 8, 8));
  EXPECT_TRUE(FieldIs(gFileTypeA[0], "BIN"));
  EXPECT_EQ(gModelA[0] & 0xF000, 0x1000);
  EXPECT_EQ(gModelA[0], 0x100D);
  EXPECT_EQ(gUpgTypeA[0], 1);
  EXPECT_EQ(gFwSizeA[0], 0x200000);
  EXPECT_EQ(gCautionA[0], 0);
  EXPECT_EQ(gRelDateA[0], 0x20080725u);
  EXPECT_EQ(gRwKeyA[0], 0x5B7E2D94u);
}

TEST(Definition, OtherSlotsAndSelectedFieldsAreCleared) {
  ResetGlobals();
  // Leftovers of an earlier fill must not survive.
  std::memset(gVenderA, 'x', sizeof gVenderA);
  std::memset(gModelA, 0x7F, sizeof gModelA);
  std::memset(gFwFile, 'y', sizeof gFwFile);
  gModel = 5;
  SetDefData();
  for (int k = 1; k < kDefMax; ++k) {
    SCOPED_TRACE(k);
    EXPECT_TRUE(AllZero(gFwFileA[k], sizeof gFwFileA[k]));
    EXPECT_TRUE(AllZero(gEnterKeyA[k], sizeof gEnterKeyA[k]));
    EXPECT_TRUE(AllZero(gVenderA[k], sizeof gVenderA[k]));
    EXPECT_TRUE(AllZero(gProductIdA[k], sizeof gProductIdA[k]));
    EXPECT_TRUE(AllZero(gOemStr[k], sizeof gOemStr[k]));
    EXPECT_EQ(gModelA[k], 0);
    EXPECT_EQ(gFwSizeA[k], 0);
    EXPECT_EQ(gRelDateA[k], 0u);
    EXPECT_EQ(gRwKeyA[k], 0u);
  }
  EXPECT_TRUE(AllZero(gFwFile, sizeof gFwFile));
  EXPECT_EQ(gModel, 0);
}

TEST(Definition, FileNameIsFormedFromTheVersionInLowerCaseHex) {
  char name[32];
  std::snprintf(name, sizeof name, "A0414431.%03x", 0x10Au);
  EXPECT_STREQ(name, "A0414431.10a");  // the rule SetDefData applies to gFwVer
}

TEST(Definition, SelectionCopiesEachFieldAtItsSlotWidth) {
  ResetGlobals();
  SetDefData();
  std::memset(gVender, 'z', sizeof gVender);  // bytes past the slot width stay as they were
  SelectDefEntry(0);
  EXPECT_EQ(gSelOemStr, 0);
  EXPECT_STREQ(gFwFile, "A0414431.122");
  EXPECT_TRUE(FieldIs(gVender, "KESTREL zzzzzzzz"));
  EXPECT_TRUE(FieldIs(gProductId, "DVD-RW  QXR-515L"));
  EXPECT_EQ(gModel, 0x100D);
  EXPECT_EQ(gUpgType, 1);
  EXPECT_EQ(gFwSize, 0x200000);
  EXPECT_EQ(gRwKey, 0x5B7E2D94u);

  std::memcpy(gVenderA[3], "OTHER   ", 8);
  gModelA[3] = 0x1041;
  SelectDefEntry(3);
  EXPECT_EQ(gSelOemStr, 3);
  EXPECT_TRUE(FieldIs(gVender, "OTHER   "));
  EXPECT_EQ(gModel, 0x1041);
  EXPECT_EQ(gFwFile[0], '\0');
}

}  // namespace
