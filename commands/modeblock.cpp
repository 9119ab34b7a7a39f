// The 256-byte block of the mode switches: model signature, then the mode key.
#include <cstring>

#include "commands/submod.h"
#include "common/bytes.h"
#include "common/global.h"

// Bytes 0..15: the model signature each switch sends; models not listed send 16 zero bytes.
// Models with `keyed` set also carry the mode key in bytes 16..19 (little-endian).
struct ModelSig {
  int32_t model;
  const char* toKernel;
  const char* toNormal;
  bool keyed;
};
static const ModelSig kModelSigs[] = {
    {0x1003, "KESTREL QXR-S701", "KESTREL QXR-S701", false},
    {0x1004, "KESTREL DVD-R504", "KESTREL DVD-R504", false},
    {0x1005, "KESTREL  QXR-505", "KESTREL  QXR-505", false},
    {0x1041, "KESTREL  QXR-505", "KESTREL  QXR-K51", false},
    {0x100D, "KESTREL  QXR-K58", "KESTREL  QXR-K58", true},
    {0x1048, "KESTREL  QXR-K58", "KESTREL  QXR-K58", true},
};
constexpr size_t kSigLen = 16;
constexpr size_t kKeyAt = 16;

// The mode key by the drive's kernel model name: what each switch adds to gRwKey. A name not
// listed adds 5 in both. The kernel switch of a "QUILL   " kernel adds to the key's low byte only.
struct KeyRule {
  const char* kernelName;  // 8 bytes
  uint32_t addKernel;
  uint32_t addNormal;
  bool lowByteOnlyToKernel;
};
// clang-format off
static const KeyRule kKeyRules[] = {
    {"FARDEL  ", 6, 6, false},
    {"FARDEL2 ", 6, 6, false},
    {"GENERAL ", 6, 6, false},
    {"QUILL   ", 5, 5, true},
    {"COMPO   ", 0, 0, false},  // the entry's key unchanged
};
// clang-format on
constexpr uint32_t kKeyAddOther = 5;
constexpr size_t kKernelNameAt = 24;  // in gRwInfo
constexpr size_t kNameLen = 8;

uint32_t ModeKey(uint32_t rwKey, const uint8_t* kernelName, bool toKernel) {
  for (const KeyRule& rule : kKeyRules) {
    if (!SameBytes(kernelName, rule.kernelName, kNameLen)) continue;
    if (!toKernel) return rwKey + rule.addNormal;
    if (rule.lowByteOnlyToKernel) return (rwKey & ~0xFFu) | ((rwKey + rule.addKernel) & 0xFFu);
    return rwKey + rule.addKernel;
  }
  return rwKey + kKeyAddOther;
}

void FillModeBlock(int32_t model, bool toKernel) {
  std::memset(pParam, 0, kModeBlockLen);
  for (const ModelSig& sig : kModelSigs) {
    if (sig.model != model) continue;
    std::memcpy(pParam, toKernel ? sig.toKernel : sig.toNormal, kSigLen);
    if (sig.keyed) {
      uint32_t key = ModeKey(gRwKey, gRwInfo + kKernelNameAt, toKernel);
      for (size_t i = 0; i < 4; ++i)
        pParam[kKeyAt + i] = static_cast<uint8_t>(key >> (8 * i));
    }
    return;
  }
}
