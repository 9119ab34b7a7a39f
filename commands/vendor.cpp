// The maker's vendor commands: WRITE BUFFER and READ BUFFER with vendor modes and buffer ids, the
// two mode switches (their block is filled in modeblock.cpp) and two standard commands used for a
// fixed purpose.
#include <cstring>

#include "commands/submod.h"
#include "common/bytes.h"
#include "common/global.h"
#include "transport/cmdapi.h"
#include "ui/message.h"

// WRITE BUFFER / READ BUFFER modes and buffer ids of the vendor commands.
enum : uint8_t {
  kModeVendor = 1,  // update mode, image blocks, update trigger, ROM reads
  kModeToKernel = 4,
  kModeToNormal = 5,
  kModeDownload = 7,
  kIdEnterUpdate = 0x30,
  kIdExecUpdate = 0x42,
  kIdRom = 0x80,
  kIdKernelPart = 0xFE,
  kIdNormalPart = 0xF0,
  kIdModeBlock = 0xFF,  // also the update buffer of HexXfer
};

// Time-outs the vendor commands set (ms).
constexpr uint32_t kTmoEnterUpdate = 1000;
constexpr uint32_t kTmoRom = 5000;
constexpr uint32_t kTmoDownload = 20000;
constexpr uint32_t kTmoToKernel = 10000;
constexpr uint32_t kTmoAfterKernel = 1000;
constexpr uint32_t kTmoAfterNormal = 5000;

// Settling time after the switches (ms). A drive with OEM code 0x300 is given longer after the
// switch back and then sent TEST UNIT READY and REQUEST SENSE once.
constexpr uint32_t kWaitKernel = 2000;
constexpr uint32_t kWaitNormal = 3000;
constexpr uint32_t kWaitNormalOem300 = 5000;
constexpr int32_t kOem300 = 0x300;

// Sense key bytes with which a drive behind IEEE 1394 may answer the switch back although it is
// already restarting into the new firmware: not ready, unit attention.
constexpr uint8_t kSenseNotReady = 2;
constexpr uint8_t kSenseUnitAttention = 6;

// True when the current drive sits behind the IEEE 1394 adapter (ASPI path) or is itself the
// IEEE 1394 drive (pass-through path).
static bool OnIeee1394() {
  if (gIf == 1) return gDevId >= 0 && gDevId < kDrvMax && drvid[gDevId].haNo == gIEEE;
  return gIEEE == gDevId;
}

// Time-out of the switch back to normal firmware: the drive re-flashes before it answers, which
// takes longer on some models and through some attachments. First match wins.
enum class Path { kAny, kPassThrough, kAspi };
struct NrmlTimeout {
  int32_t modelLo, modelHi;  // both 0: any model
  Path path;
  bool ieee1394;  // only for a drive on IEEE 1394
  uint32_t ms;
};
// clang-format off
static const NrmlTimeout kNrmlTimeouts[] = {
    {0x1005, 0x1005, Path::kAny,         false, 30000},
    {0x1041, 0x1041, Path::kAny,         false, 30000},
    {0x1006, 0x100E, Path::kAny,         false, 180000},
    {0x1042, 0x1048, Path::kAny,         false, 180000},
    {0x4001, 0x4003, Path::kAny,         false, 60000},
    {0,      0,      Path::kAspi,        true,  10000},
    {0x1003, 0x1003, Path::kPassThrough, true,  20000},
    {0x1003, 0x1003, Path::kAspi,        false, 10000},
};
// clang-format on
constexpr uint32_t kNrmlTimeoutOther = 5000;

static uint32_t NrmlModeTimeout(int32_t model) {
  for (const NrmlTimeout& row : kNrmlTimeouts) {
    bool anyModel = row.modelLo == 0 && row.modelHi == 0;
    if (!anyModel && (model < row.modelLo || model > row.modelHi)) continue;
    if (row.path == Path::kPassThrough && gIf != 0) continue;
    if (row.path == Path::kAspi && gIf != 1) continue;
    if (row.ieee1394 && !OnIeee1394()) continue;
    return row.ms;
  }
  return kNrmlTimeoutOther;
}

// --- Commands -------------------------------------------------------------------------------

int EntExtMode() {
  gTimeout = kTmoEnterUpdate;
  return WriteBuffer(gDevId, kModeVendor, kIdEnterUpdate, 0, 0, pBuff);
}

int ExecUpdate() {
  return WriteBuffer(gDevId, kModeVendor, kIdExecUpdate, 0, 0, pBuff);
}

int HexXfer(uint32_t offset, uint16_t length, uint8_t* buf) {
  return WriteBuffer(gDevId, kModeVendor, kIdModeBlock, offset, length, buf);
}

int RomXfer(uint32_t address, uint16_t length, uint8_t* buf) {
  gTimeout = kTmoRom;
  return ReadBuffer(gDevId, kModeVendor, kIdRom, address, length, buf);
}

int DownloadKernel(uint32_t offset, uint16_t length, uint8_t* buf) {
  gTimeout = kTmoDownload;
  return WriteBuffer(gDevId, kModeDownload, kIdKernelPart, offset, length, buf);
}

int DownloadNormal(uint32_t offset, uint16_t length, uint8_t* buf) {
  gTimeout = kTmoDownload;
  return WriteBuffer(gDevId, kModeDownload, kIdNormalPart, offset, length, buf);
}

int MoveToKrnlModeRW(int32_t model) {
  FillModeBlock(model, true);
  gTimeout = kTmoToKernel;
  int rc = WriteBuffer(gDevId, kModeToKernel, kIdModeBlock, 0, kModeBlockLen, pParam);
  if (rc != 0) {
    ShowMsgId(14, kMsgLine);
    return rc;
  }
  gTimeout = kTmoAfterKernel;
  if (!(gIf == 1 && gIntel == 1)) WaitTime(kWaitKernel);
  return 0;
}

// A failed switch back that the drive has nevertheless carried out.
static bool SwitchedAnyway() {
  if (gOemId == kOem300 && gIf == 0) return true;
  if (gIEEE == -1) return false;
  GetErrInfo();
  uint8_t key = static_cast<uint8_t>(gErr >> 16);
  return key == kSenseNotReady || key == kSenseUnitAttention;
}

int MoveToNrmlModeRW(int32_t model) {
  FillModeBlock(model, false);
  gTimeout = NrmlModeTimeout(model);
  // The failure is judged by its own sense. A request that ran out of time brings none on the
  // ASPI path, and must then not pass for harmless on the strength of an earlier command's.
  std::memset(gSns, 0, sizeof gSns);
  int rc = WriteBuffer(gDevId, kModeToNormal, kIdModeBlock, 0, kModeBlockLen, pParam);
  gTimeout = kTmoAfterNormal;
  if (rc != 0 && !SwitchedAnyway()) {
    ShowMsgId(15, kMsgLine);
    return rc;
  }
  if (gOemId == kOem300) {
    WaitTime(kWaitNormalOem300);
    TestUnitReady(gDevId);
    RequestSense(gDevId, gSns);
  } else {
    WaitTime(kWaitNormal);
  }
  return 0;
}

int DiscStop() {
  gTimeout = 0;
  return StartStopUnit(gDevId, 0, 0, 0, 0);
}

int GetDrvRgn() {
  constexpr uint8_t kKeyClassDvd = 0;
  constexpr uint8_t kFormatRpcState = 8;
  constexpr size_t kRpcSchemeAt = 6;
  // A drive may answer with fewer bytes than asked for: what it did not send must not be the
  // reply of the drive queried before.
  std::memset(gRgn, 0, sizeof gRgn);
  int rc = ReportKey(gDevId, kKeyClassDvd, kFormatRpcState, 0, sizeof gRgn, gRgn);
  if (rc != 0) return rc;
  return gRgn[kRpcSchemeAt] == 1 ? 0 : -1;
}
