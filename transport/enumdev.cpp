// Enumeration of the drives into the target list, the identity rule that decides which of them
// the update definition accepts, and the media change control of the CD/DVD drives met.
#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "common/global.h"
#include "platform/win32.h"
#include "transport/cmdapi.h"
#include "transport/cmdint.h"

namespace {

constexpr uint8_t kInquiryCdb[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
// READ BUFFER, mode 2, buffer id 0xF1, offset 0: the drive information block.
constexpr uint8_t kDrvInfoCdb[10] = {0x3C, 0x02, 0xF1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00};
constexpr uint32_t kDrvInfoLen = 48;
constexpr ULONG kEnumSeconds = 2;

// Peripheral device types whose media change notification is taken over.
constexpr uint8_t kTypeWriteOnce = 4;
constexpr uint8_t kTypeCdDvd = 5;

bool BuffersReady() {
  return pBuff != nullptr && pText != nullptr && pParam != nullptr;
}

// Both enumeration reads clear their destination first, so that a drive that answers with fewer
// bytes is never judged by what the previous candidate left there.
int PtInquiry() {
  std::memset(pBuff, 0, kInqLen);
  return PtSend(kInquiryCdb, sizeof kInquiryCdb, kDirIn, pBuff, kInqLen, kEnumSeconds);
}

int PtDrvInfo() {
  std::memset(gRwInfo, 0, sizeof gRwInfo);
  return PtSend(kDrvInfoCdb, sizeof kDrvInfoCdb, kDirIn, gRwInfo, kDrvInfoLen, kEnumSeconds);
}

void AddTarget(int& n, int ha, int target, char letter) {
  if (n >= kDrvMax) return;
  drvid[n].haNo = ha;
  drvid[n].tgtNo = target;
  drvid[n].letter = letter;
  ++n;
}

int EnumPassThrough() {
  int n = 0;
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    if (OpenDrive(letter) != 0) {
      if (gSysErr == ERROR_ACCESS_DENIED) gDenied = 1;
      continue;
    }
    if (PtInquiry() != 0) {
      CloseDrive();
      continue;
    }
    if ((pBuff[0] == kTypeWriteOnce || pBuff[0] == kTypeCdDvd) && gMcnCnt < kMcnMax) {
      gMcnLetter[gMcnCnt] = letter;
      StartMcnCtl(gMcnCnt);
      ++gMcnCnt;
    }
    if (PtDrvInfo() != 0) std::memset(gRwInfo, 0, sizeof gRwInfo);
    if (ChkInq(pBuff) != -1) AddTarget(n, 0, 0, letter);
    CloseDrive();
  }
  return n;
}

void ScanAspiTarget(int& n, int ha, int target) {
  std::memset(pBuff, 0, kInqLen);
  if (AspiInquiryCmd(ha, target, kInquiryCdb, sizeof kInquiryCdb, pBuff, kInqLen) != 0) return;
  std::memset(gRwInfo, 0, sizeof gRwInfo);
  if (AspiInquiryCmd(ha, target, kDrvInfoCdb, sizeof kDrvInfoCdb, gRwInfo, kDrvInfoLen) != 0)
    std::memset(gRwInfo, 0, sizeof gRwInfo);
  if (ChkInq(pBuff) != -1) AddTarget(n, ha, target, 0);
}

// IDE adapters carry a master and a slave; with the Intel IDE driver present the other adapters
// are left alone.
int EnumAspi() {
  int n = 0;
  for (int ha = 0; ha < gHaCnt; ++ha) {
    int last;
    if (FieldIs(gHaTbl[ha], "ESDI_506")) {
      last = 1;
    } else if (FieldIs(gHaTbl[ha], "intelata")) {
      gIntel = 1;
      last = 1;
    } else if (gIntel == 1) {
      continue;
    } else {
      last = 6;
    }
    for (int target = 0; target <= last; ++target)
      ScanAspiTarget(n, ha, target);
  }
  return n;
}

// Sends the media change control with `flag` on handle h; the call's result.
int McnControl(HANDLE h, BOOLEAN flag) {
  PREVENT_MEDIA_REMOVAL pmr;
  pmr.PreventMediaRemoval = flag;
  DWORD returned = 0;
  return DeviceIoControl(h, IOCTL_STORAGE_MCN_CONTROL, &pmr, sizeof pmr, nullptr, 0, &returned,
                         nullptr);
}

}  // namespace

int EnumDevice() {
  gMcnCnt = 0;
  int n = 0;
  if (BuffersReady()) {
    if (gIf == 1)
      n = gSrb != nullptr ? EnumAspi() : 0;
    else
      n = EnumPassThrough();
  }
  gDevn = n;
  return n;
}

int ChkInq(const uint8_t* inq) {
  if (inq == nullptr) return -1;
  const int entries = gRefNum < kDefMax ? gRefNum : kDefMax;
  const uint8_t* kernelName = gRwInfo + 24;
  const uint8_t* normalName = gRwInfo + 32;
  for (int k = 0; k < entries; ++k) {
    bool candidate =
        (SameBytes(inq + 8, gVenderA[k], 8) && SameBytes(inq + 16, gProductIdA[k], 16)) ||
        FieldIs(inq + 8, "KESTREL DVD-RW  QXR-515 ") ||
        FieldIs(inq + 8, "KESTREL DVD-RW  QXR-515D");
    if (!candidate) continue;
    int family = gModelA[k] & 0xFF00;
    if (family != 0x1000 && family != 0x4000) return k;
    // These families carry an OEM mark: the normal model name, or the kernel model name while the
    // drive has no normal part.
    if (SameBytes(normalName, gOemStr[k], 8)) return k;
    if (FieldIs(normalName, "        ") && SameBytes(kernelName, gOemStr[k], 8)) {
      gKernel = 1;
      return k;
    }
  }
  return -1;
}

int StartMcnCtl(int m) {
  if (gIf == 1 || m < 0 || m >= kMcnMax) return 0;
  char path[8];
  std::snprintf(path, sizeof path, "\\\\.\\%c:", gMcnLetter[m]);
  HANDLE h =
      CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    gSysErr = GetLastError();
    gMcnHandle[m] = nullptr;
    return 0;
  }
  gMcnHandle[m] = h;
  return McnControl(h, 1);
}

int EndMcnCtl(int m) {
  if (gIf == 1 || m < 0 || m >= kMcnMax || gMcnHandle[m] == nullptr) return 0;
  return McnControl(gMcnHandle[m], 0);
}
