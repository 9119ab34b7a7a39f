// The update sequence of a read-only drive.
#include "update/dvdrom.h"

#include <cstring>

#include "commands/submod.h"
#include "common/bytes.h"
#include "common/global.h"
#include "driver/defdata.h"
#include "transport/cmdapi.h"
#include "ui/message.h"
#include "update/dvdrw.h"

constexpr uint32_t kBlock = 0x8000;    // bytes of one image block and of one ROM read
constexpr uint32_t kTail = 0x1000;     // the image's last 4 KiB travel again at the end ...
constexpr uint32_t kTailExtra = 0x10;  // ... followed by the 4-byte marker and 12 more bytes
constexpr uint32_t kVerifyLen = 0x20000;
constexpr int32_t kAspiCountdown = 30;  // seconds the Windows 9x countdown always lasts

// Identity patterns of the drives whose ROM carries no readable name. They are kept scrambled and
// compared by scrambling what a drive or an image holds; they are never decoded.
static constexpr uint8_t ScrambleKey(size_t i) {
  return static_cast<uint8_t>(0xA5 + 0x3B * i);
}
const uint8_t gRomIdCpu[16] = {0xE8, 0xA3, 0x4E, 0x7B, 0xC3, 0xF4, 0x37, 0x71,
                               0x4F, 0x98, 0xB0, 0x61, 0x3B, 0xE1, 0xFF, 0x3A};
const uint8_t gRomIdModelA[16] = {0xF4, 0xB8, 0x5F, 0x7B, 0xA4, 0xFD, 0x31, 0x62,
                                  0x2F, 0xF7, 0xBE, 0x03, 0x28, 0x84, 0xFF, 0x3A};
const uint8_t gRomIdModelB[16] = {0xF4, 0xB8, 0x5F, 0x7B, 0xA4, 0xFD, 0x31, 0x62,
                                  0x2F, 0xF7, 0xBE, 0x03, 0x2B, 0x84, 0xFF, 0x3A};
const uint8_t gRomIdModelC[16] = {0xF4, 0xB8, 0x5F, 0x7B, 0xA4, 0xFD, 0x31, 0x62,
                                  0x2F, 0xF7, 0xBE, 0x03, 0x2A, 0x84, 0xFF, 0x3A};

bool RomIdIs(const uint8_t* data, const uint8_t* pattern) {
  for (size_t i = 0; i < 16; ++i)
    if (static_cast<uint8_t>(data[i] ^ ScrambleKey(i)) != pattern[i]) return false;
  return true;
}

// What identifies a drive and its image, by model code.
enum class Ref { kEnterKey, kRefCpu, kRefCpu12, kIdModelA, kIdModelB, kIdCpu };
struct RomRule {
  Ref romModel, romCpu;   // the drive's ROM identity against ...
  uint32_t imageModelAt;  // the image's model field ...
  uint32_t imageModelLen;
  Ref imageModel;
  uint32_t imageCpuAt;  // and its CPU field
  uint32_t imageCpuLen;
  Ref imageCpu;
  bool verify;           // the ROM can be read back for comparison
  uint32_t updateLimit;  // ms the self-update may take
};

static const RomRule& RuleOf(int32_t model) {
  static const RomRule kUpTo7 = {Ref::kEnterKey, Ref::kRefCpu, 0x1000,       16,   Ref::kEnterKey,
                                 0x1010,         16,           Ref::kRefCpu, true, 30000};
  static const RomRule k8 = {Ref::kEnterKey, Ref::kRefCpu, 0x1010,       12,    Ref::kEnterKey,
                             0x1020,         12,           Ref::kRefCpu, false, 30000};
  static const RomRule k9 = {Ref::kIdModelA, Ref::kIdCpu, 0x1F000,     16,    Ref::kIdModelA,
                             0x1F010,        16,          Ref::kIdCpu, false, 10000};
  static const RomRule k10 = {Ref::kEnterKey, Ref::kRefCpu12, 0x1C010, 12,
                              Ref::kEnterKey, 0x1C020,        12,      Ref::kRefCpu,
                              false,          30000};
  static const RomRule k11 = {Ref::kIdModelB, Ref::kIdCpu, 0x1F000,     16,    Ref::kIdModelB,
                              0x1F010,        16,          Ref::kIdCpu, false, 10000};
  static const RomRule k12 = {Ref::kEnterKey, Ref::kRefCpu, 0x1000,       16,    Ref::kEnterKey,
                              0x1010,         16,           Ref::kRefCpu, false, 30000};
  switch (model) {
    case 8:
      return k8;
    case 9:
      return k9;
    case 10:
      return k10;
    case 11:
      return k11;
    default:
      return model <= 7 ? kUpTo7 : k12;
  }
}

// Compares `len` bytes at p with a reference; a length of 0 means "the reference text's length"
// (gRefCpu compared as far as its text goes).
static bool Matches(const uint8_t* p, Ref ref, uint32_t len) {
  switch (ref) {
    case Ref::kEnterKey:
      return SameBytes(p, gEnterKey, len == 0 ? 16 : len);
    case Ref::kRefCpu:
      return SameBytes(p, gRefCpu, len == 0 ? strnlen(gRefCpu, sizeof gRefCpu) : len);
    case Ref::kRefCpu12:
      return SameBytes(p, gRefCpu, 12);
    case Ref::kIdModelA:
      return RomIdIs(p, gRomIdModelA);
    case Ref::kIdModelB:
      return RomIdIs(p, gRomIdModelB);
    case Ref::kIdCpu:
      return RomIdIs(p, gRomIdCpu);
  }
  return false;
}

// The version of the selected entry's revision text "d.dd" as BCD (0 for "0000").
static uint16_t EntryVersion() {
  if (FieldIs(gRevision, "0000")) return 0;
  auto digit = [](char c) { return static_cast<uint8_t>(c - '0'); };
  return static_cast<uint16_t>(
      digit(gRevision[0]) << 8 |
      static_cast<uint8_t>((digit(gRevision[2]) << 4) + digit(gRevision[3])));
}

// Reports a failed identification: the drive's error code, or that it could not be had.
static int ReportRomError() {
  if (GetErrInfo() == 0) {
    SetOutText("\r\nError Code : %06lx", static_cast<unsigned long>(gErr));
  } else {
    SetOutText("\r\nRequest Sense Command Failed.");
  }
  PrintMsg(gOutText);
  return -1;
}

int GetDrvInfRom() {
  auto take = [](const uint8_t* at) {
    std::memcpy(gRomModel, at, 16);
    std::memcpy(gRomCpu, at + 16, 16);
    return 0;
  };
  if (RomXfer(0x1000, 0x40, pBuff) != 0) return ReportRomError();
  if (FieldIs(pBuff, "KESTREL ")) return take(pBuff);
  if (FieldIs(pBuff + 16, "KESTREL ")) return take(pBuff + 16);
  if (RomXfer(0x1C000, 0x40, pBuff) != 0) return ReportRomError();
  if (FieldIs(pBuff + 16, "KESTREL ")) return take(pBuff + 16);
  if (RomXfer(0x1F000, 0x20, pBuff) != 0) return ReportRomError();
  if (RomIdIs(pBuff, gRomIdModelA) || RomIdIs(pBuff, gRomIdModelB) || RomIdIs(pBuff, gRomIdModelC))
    return take(pBuff);
  std::memcpy(gRomModel, "Not recognize   ", 16);
  std::memcpy(gRomCpu, "Not recognize   ", 16);
  return ReportRomError();
}

int ChkDrvFirm2() {
  int r = InqCmd(gDevId, gInq);
  if (r != 0) {
    ShowMsgId(9, kMsgStop);
  } else if ((r = GetDrvInfRom()) != 0) {
    ShowMsgId(0, kMsgStop);
  } else {
    int k = ChkInq(gInq);
    if (k == -1) {
      r = -1;  // the drive no longer matches any entry: there is nothing to select
    } else {
      SelectDefEntry(k);
    }
  }
  gFwVer = EntryVersion();
  return r;
}

int ChkFwFile2() {
  // The transfer sends the image's last 4 KiB again with 16 bytes after it, so the image must be
  // larger than that tail and leave room for it in pText.
  if (gFwSize <= static_cast<int32_t>(kTail)) return -1;
  if (static_cast<uint32_t>(gFwSize) + kTailExtra > gTextSize) return -1;
  return 0;
}

int ChkCurFirm2(int) {
  const RomRule& rule = RuleOf(gModel);
  int result = 0;
  if (!SameBytes(gInq + 8, gVender, 8) || !SameBytes(gInq + 16, gProductId, 16)) {
    ShowMsgId(49, kMsgLine);
    result = -1;
  } else if (EntryVersion() <= gVer) {
    ShowMsgId(4, kMsgLine);
    result = 1;
  } else if (!Matches(reinterpret_cast<const uint8_t*>(gRomModel), rule.romModel, 16)) {
    ShowMsgId(64, kMsgLine);
    result = -1;
  } else if (!Matches(reinterpret_cast<const uint8_t*>(gRomCpu), rule.romCpu, 0)) {
    ShowMsgId(65, kMsgLine);
    result = -1;
  } else if (!Matches(pText + rule.imageModelAt, rule.imageModel, rule.imageModelLen)) {
    ShowMsgId(64, kMsgLine);
    result = -1;
  } else if (!Matches(pText + rule.imageCpuAt, rule.imageCpu, rule.imageCpuLen)) {
    ShowMsgId(40, kMsgLine);
    result = -1;
  }
  gFwVer = EntryVersion();
  return result;
}

int RomVerify(uint32_t count) {
  if (count > kBuffSize) count = kBuffSize;
  for (uint32_t offset = 0; offset < count; offset += kBlock) {
    int r = RomXfer(offset, static_cast<uint16_t>(kBlock), pBuff + offset);
    if (r != 0) return r;
  }
  // Bytes 0x400..0x44F hold what the drive keeps of its own (serial data): not compared.
  if (!SameBytes(pBuff, pText, 0x400)) return -1;
  if (!SameBytes(pBuff + 0x450, pText + 0x450, kBlock - 0x450)) return -2;
  for (uint32_t offset = kBlock; offset < count; offset += kBlock)
    if (!SameBytes(pBuff + offset, pText + offset, kBlock)) return -3;
  return 0;
}

// Reports a failed transfer with the drive's sense code.
static int ReportXferError() {
  if (RequestSense(gDevId, gSns) == 0) {
    SetOutText("\nSense Code : %02x-%02x-%02x", gSns[2], gSns[12], gSns[13]);
  } else {
    SetOutText("\nRequest Sense Command Failed.");
  }
  PrintMsg(gOutText);
  return -1;
}

int FwXfer() {
  if (EntExtMode() != 0) return ReportXferError();
  const uint32_t size = static_cast<uint32_t>(gFwSize);
  // The marker tells the drive which host side it is flashed from.
  const char* marker = gIntel == 1 ? "WIN2" : gPatch == 1 ? "WIN " : gIf == 0 ? "WIN " : "WIN2";
  std::memcpy(pText + size, marker, 4);
  uint32_t offset = 0;
  do {
    if (HexXfer(offset, static_cast<uint16_t>(kBlock), pText + offset) != 0)
      return ReportXferError();
    offset += kBlock;
  } while (offset < size - kTail);
  if (HexXfer(size - kTail, static_cast<uint16_t>(kTail + kTailExtra), pText + size - kTail) != 0)
    return ReportXferError();
  return 0;
}

// Counts down once a second, from GetStartTime, until `total` seconds have passed, printing the
// seconds left each time. A request left running (`pollRequest`) is looked at before each second
// until it has ended.
static void Countdown(int32_t total, bool pollRequest) {
  PrintMsg("\n");
  int running = pollRequest ? 1 : 0;
  int32_t elapsed;
  do {
    if (running == 1) running = ChkCmdDone();
    Sleep(1000);
    GetLapTime();
    elapsed = static_cast<int32_t>((lapTime - startTime) / 1000);
    SetOutText("\rRemaining time is %02dsec", total - elapsed);
    PrintMsg(gOutText);
  } while (elapsed < total);
  GetStopTime();
}

int FwUpdate() {
  const bool shortUpdate = gModel == 9 || gModel == 11;
  if (gIf == 1) {
    // The Windows 9x layer cannot wait that long for one command: the update is left running and
    // the countdown always takes its full time, looking at the command between seconds.
    gTimeout = shortUpdate ? 10000 : 0;
    gNoWait = 1;
    GetStartTime();
    int r = ExecUpdate();
    Countdown(kAspiCountdown, true);
    return r;
  }
  gTimeout = shortUpdate ? 10000 : 30000;
  GetStartTime();
  int r = ExecUpdate();
  if (r != 0) {
    GetStopTime();  // gives the timer period back
    return r;
  }
  Countdown(static_cast<int32_t>(gTimeout / 1000), false);
  return 0;
}

int ReFlshrom() {
  if (ChkDrvFirm2() != 0) return 1;
  if (LoadHexToBuf() != 0) {
    ShowMsgId(20, kMsgLine);
    return -1;
  }
  if (ShowInq(0) != 0) return -1;
  if (ChkFwFile2() != 0) {
    ShowMsgId(40, kMsgLine);
    return -1;
  }
  if (gPatch == 1 && LoadPatchToBuf() != 0) {
    ShowMsgId(21, kMsgLine);
    return -1;
  }
  int r = ChkCurFirm2(gUpgType);
  if (r != 0) return r;
  const bool verify = RuleOf(gModel).verify;
  if (verify && RomVerify(kVerifyLen) == 0) {
    ShowMsgId(4, gAllAuto == 1 ? kMsgLine : kMsgInfo);
    return 1;
  }
  if (LoadHexToBuf() != 0) {
    ShowMsgId(20, kMsgLine);
    return -1;
  }
  ShowMsgId(61, kMsgLine);
  if ((r = EntExtMode()) != 0) {
    ShowMsgId(22, kMsgLine);
    return r;
  }
  if (DiscStop() != 0) GetErrInfo();
  if ((r = FwXfer()) != 0) {
    ShowMsgId(23, kMsgLine);
    return r;
  }
  if ((r = FwUpdate()) != 0) {
    ShowMsgId(24, kMsgLine);
    return r;
  }
  WaitTime(2000);
  if (verify && RomVerify(kVerifyLen) != 0) {
    ShowMsgId(25, kMsgLine);
    return 1;
  }
  if (ShowInq(1) != 0) return -1;
  ShowMsgId(12, kMsgLine);
  return 0;
}
