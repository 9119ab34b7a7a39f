// The block the mode switches send: model signature, mode key, and nothing stale.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/submod.h"
#include "common/global.h"

namespace {

class ModeBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    param.assign(512, 0xCC);  // leftovers of an earlier command
    pParam = param.data();
  }
  void TearDown() override { pParam = nullptr; }
  std::string Signature() const { return std::string(param.begin(), param.begin() + 16); }
  uint32_t Key() const {
    return param[16] | param[17] << 8 | param[18] << 16 | static_cast<uint32_t>(param[19]) << 24;
  }
  bool ZeroFrom(size_t from) const {
    for (size_t i = from; i < kModeBlockLen; ++i)
      if (param[i] != 0) return false;
    return true;
  }
  std::vector<uint8_t> param;
};

TEST_F(ModeBlock, WholeBlockIsClearedAndUnkeyedModelsCarryNoKey) {
  gRwKey = 0x5B7E2D94;
  FillModeBlock(0x1003, true);
  EXPECT_EQ(Signature(), "KESTREL QXR-S701");
  EXPECT_TRUE(ZeroFrom(16));
  EXPECT_EQ(param[kModeBlockLen], 0xCC);  // exactly the block, nothing past it

  FillModeBlock(0x1234, true);  // a model without a signature
  EXPECT_TRUE(ZeroFrom(0));
}

TEST_F(ModeBlock, KeyDependsOnKernelModelName) {
  const struct {
    const char* kernelName;
    uint32_t toKernel;
    uint32_t toNormal;
  } cases[] = {
      {"GENERAL ", 0x5B7E2E04, 0x5B7E2E04}, {"FARDEL2 ", 0x5B7E2E04, 0x5B7E2E04},
      {"QUILL   ", 0x5B7E2D03, 0x5B7E2E03},  // kernel switch: low byte only, wrapping
      {"COMPO   ", 0x5B7E2DFE, 0x5B7E2DFE}, {"OTHER   ", 0x5B7E2E03, 0x5B7E2E03},
      {"GENERAL2", 0x5B7E2E03, 0x5B7E2E03},  // all 8 bytes must match
  };
  gRwKey = 0x5B7E2DFE;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kernelName);
    std::memcpy(gRwInfo + 24, c.kernelName, 8);
    FillModeBlock(0x100D, true);
    EXPECT_EQ(Key(), c.toKernel);
    EXPECT_TRUE(ZeroFrom(20));
    FillModeBlock(0x100D, false);
    EXPECT_EQ(Key(), c.toNormal);
  }
  // 32-bit additions wrap around.
  EXPECT_EQ(ModeKey(0xFFFFFFFE, reinterpret_cast<const uint8_t*>("GENERAL "), false), 4u);
}

}  // namespace
