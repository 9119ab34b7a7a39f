// Drive information of a recordable drive and the rules that decide whether it may be updated.
#include <cstring>

#include "commands/submod.h"
#include "common/bytes.h"
#include "common/global.h"
#include "driver/defdata.h"
#include "transport/cmdapi.h"
#include "ui/message.h"
#include "update/dvdrw.h"

// Fields of the INQUIRY data and of the drive information block.
constexpr int kInqProduct = 8;    // vendor (8) and product (16)
constexpr int kInqRevision = 32;  // "d.dd", byte 36 follows
constexpr int kInqDate = 37;      // "yy/mm/dd", "yyyy/mm/dd" or "Jul25 2008" ("Lumarca ")
constexpr int kInfoHwRevision = 16;
constexpr int kInfoKernelModel = 24;
constexpr int kInfoNormalModel = 32;
constexpr int kInfoReadLen = 48;

// TEST UNIT READY answered with unit attention this often in a row means the drive is not
// settling; a disc state that cannot be learnt is refused like an unknown one.
constexpr int kUnitAttentionTries = 10;

// OEM codes by kernel model name; "GENERAL " on a SCSI drive is 0x300.
struct OemCode {
  const char* kernelName;
  int32_t code;
};
static const OemCode kOemCodes[] = {
    {"GENERAL ", 0x100}, {"TORCI   ", 0x104}, {"TORJPN  ", 0x108},
    {"BRIX    ", 0x101}, {"BRIXLX  ", 0x111}, {"HALDEN  ", 0x103},
    {"WENRO   ", 0x115}, {"QUILL   ", 0x102}, {"YVO     ", 0x121},
};

static int32_t OemIdOf(const uint8_t* info) {
  for (const OemCode& o : kOemCodes) {
    if (!SameBytes(info + kInfoKernelModel, o.kernelName, 8)) continue;
    if (o.code == 0x100 && FieldIs(info + kInfoHwRevision, "SCSI")) return 0x300;
    return o.code;
  }
  return -1;
}

static bool ProductIs(const char* text, size_t n) {
  return SameBytes(gInq + kInqProduct, text, n);
}

int GetDrvInfRw() {
  gRwMode = -1;
  int r = ReadBuffer(gDevId, 2, 0xF1, 0, kInfoReadLen, gRwInfo);
  if (r == 0) {
    gRwMode = gRwInfo[kInfoNormalModel] == ' ' ? 1 : 0;
    gKernel = gRwMode;
  }
  return r;
}

int ChkDrvFirm() {
  int r = InqCmd(gDevId, gInq);
  if (r != 0) {
    ShowMsgId(9, kMsgStop);
    return r;
  }
  r = GetDrvInfRw();
  if (r != 0) {
    ShowMsgId(0, kMsgStop);
    return r;
  }
  int k = ChkInq(gInq);
  if (k != -1) SelectDefEntry(k);
  return 0;
}

// The firmware date of the INQUIRY data as BCD 0xYYYYMMDD, for the three forms drives use.
static uint32_t LumarcaDate() {
  const uint8_t* d = gInq + kInqDate;
  return ReadHexField(d + 5, 2, 2) << 24 | ReadHexField(d + 7, 2, 2) << 16 | MonthBcd(d) << 8 |
         ReadHexField(d + 3, 2, 2);
}

static uint32_t ShortDate() {  // yy/mm/dd
  const uint8_t* d = gInq + kInqDate;
  return 0x20u << 24 | ReadHexField(d, 2, 2) << 16 | ReadHexField(d + 3, 2, 2) << 8 |
         ReadHexField(d + 6, 2, 2);
}

static uint32_t LongDate() {  // yyyy/mm/dd
  const uint8_t* d = gInq + kInqDate;
  if (d[4] != '/' || d[7] != '/') return ReadHexField(d, 4, 4) << 16;
  return ReadHexField(d, 4, 4) << 16 | ReadHexField(d + 5, 2, 2) << 8 | ReadHexField(d + 8, 2, 2);
}

// The current revision line, and the date that goes with it.
static void CurrentRevision() {
  const uint8_t* d = gInq + kInqDate;
  if (FieldIs(gInq + kInqProduct, "Lumarca ")) {
    // These drives write the date "Jul25 2008"; the line shows it in the ten-character form.
    gFwDate = LumarcaDate();
    SetOutText("\nCurrent Revision>> %.24s %.5s %.10s", AsText(gInq + kInqProduct),
               AsText(gInq + kInqRevision), AsText(d));
  } else if (d[2] == '/' && d[5] == '/') {
    SetOutText("\nCurrent Revision>> %.24s %.5s %.8s", AsText(gInq + kInqProduct),
               AsText(gInq + kInqRevision), AsText(d));
    if (!FieldIs(gInq + kInqRevision, "000")) gFwDate = ShortDate();
  } else {
    SetOutText("\nCurrent Revision>> %.24s %.5s %.10s", AsText(gInq + kInqProduct),
               AsText(gInq + kInqRevision), AsText(d));
    gFwDate = LongDate();
  }
}

// Kernels too old for an update of the normal part alone, and firmware newer than this program
// knows, by drive and version.
static void JudgeVersion() {
  if (gInq[kInqRevision + 1] == '.') {
    gKrnlUpg = (ProductIs("KESTREL DVD-RW  QXR-503", 23) && gVer <= 0x128) ||
               (ProductIs("KESTREL DVD-RW  QXR-505", 23) && gVer < 0x110) ||
               (ProductIs("VOLX    VX-W90E         ", 24) && gVer < 0x110) ||
               (ProductIs("ORBY    DVD-RW ORW-0942P", 24) && gVer < 0x110);
  }
  gReqUpg = (ProductIs("KESTREL DVD-RW  QXR-503", 23) && gVer > 0x200) ||
            (ProductIs("KESTREL DVD-RW  QXR-504", 23) && gVer > 0x140 && gVer < 0x400) ||
            (ProductIs("KESTREL DVD-RW  QXR-504", 23) && gVer > 0x420 &&
             FieldIs(gRwInfo + kInfoKernelModel, "BRIX")) ||
            (ProductIs("KESTREL DVD-RW  QXR-505", 23) && gVer > 0x130);
}

int ShowInq(int mode) {
  gFwDate = 0;
  gPatch = 0;
  gReqUpg = 0;
  gKrnlUpg = 0;

  int r = InqCmd(gDevId, gInq);
  if (gModel == 0x1003 && mode == 1) {
    WaitTime(3000);
    r = InqCmd(gDevId, gInq);
  }
  // Some drives behind the Windows 9x layer answer only after their restart has settled.
  if (r != 0 && mode == 1 && gIf == 1 && (gIntel != 0 || gModel == 0x1003)) {
    for (int tries = 0; tries < 6 && r != 0; ++tries) {
      WaitTime(3000);
      r = InqCmd(gDevId, gInq);
    }
  }
  if (r != 0) {
    ShowMsgId(9, kMsgLine);
    return r;
  }

  if (mode == 0) {
    CurrentRevision();
    gPatch = FieldIs(gInq + kInqRevision, "1.06") && ProductIs("KESTREL DVD-ROM QXD-516 ", 24);
    if (FieldIs(gInq + kInqRevision, "0000") && ProductIs("KESTREL DVD-RW  QXR-", 20)) gKernel = 1;
    gVer = RevisionBcd(gInq + kInqRevision);
    JudgeVersion();
  } else if (FieldIs(gInq + 16, "DVD-RW")) {
    SetOutText("\nNew Revision    >> %.24s %.5s %.8s", AsText(gInq + kInqProduct),
               AsText(gInq + kInqRevision), AsText(gInq + kInqDate));
  } else {
    SetOutText("\nNew Revision    >> %.24s %.5s %.10s", AsText(gInq + kInqProduct),
               AsText(gInq + kInqRevision), AsText(gInq + kInqDate));
  }
  PrintMsg(gOutText);

  if (gKrnlUpg == 1 && gUpgType != 0) {
    ShowMsgId(56, kMsgLine);
    return -1;
  }
  if (gReqUpg == 1) {
    ShowMsgId(55, kMsgLine);
    return -1;
  }
  return 0;
}

// Drives that report one of these model names accept any image's.
static bool AnyModel(const uint8_t* name) {
  return FieldIs(name, "COMPO   ") || FieldIs(name, "GENERAL ");
}

int ChkCurFirm(int full) {
  int r = GetDrvInfRw();
  if (r != 0) {
    ShowMsgId(0, kMsgStop);
    return r;
  }
  gHwRev = static_cast<uint16_t>(ReadHexField(gRwInfo + kInfoHwRevision + 4, 4, 4));
  fHwRev = static_cast<uint16_t>(ReadHexField(pText + kImgHwRevision + 4, 4, 4));

  if (!SameBytes(gRwInfo + kInfoHwRevision, pText + kImgHwRevision, 8)) {
    if ((gModel & 0xFFF0) != 0x1040) {
      ShowMsgId(1, kMsgStop);
      return -1;
    }
    if (gUpgType != 0) {  // a new kernel part may bring the hardware revision along
      ShowMsgId(1, kMsgLine);
      return -1;
    }
  }
  const uint8_t* kernelName = gRwInfo + kInfoKernelModel;
  if (!AnyModel(kernelName) && !SameBytes(kernelName, pText + kImgKernelModel, 8)) {
    ShowMsgId(37, kMsgStop);
    return -1;
  }
  // The OEM code decides how this drive is switched back and waited for. A drive in its kernel
  // reports its kernel model name too, so it gets its own code here rather than keeping the code
  // of the drive updated before it.
  gOemId = OemIdOf(gRwInfo);
  if (full == 0 || gRwMode == 1) return 0;

  const uint8_t* normalName = gRwInfo + kInfoNormalModel;
  if (!AnyModel(normalName) && !SameBytes(normalName, pText + kImgNormalModel, 8)) {
    ShowMsgId(3, kMsgStop);
    return -1;
  }
  if (!(gFileDate > gFwDate || gFwVer > gVer)) {
    ShowMsgId(54, gAllAuto == 1 ? kMsgLine : kMsgInfo);
    return 1;
  }
  if (gIf == 1 && drvid[gDevId].haNo == gIEEE && gAutoRun != 0 &&
      ProductIs("KESTREL DVD-RW  QXR-503", 23)) {
    ShowMsgId(53, kMsgStop);
    return -1;
  }
  if (gVer > 0 && gVer < 0x100) {
    ShowMsgId(73, kMsgStop);
    return -1;
  }
  return 0;
}

int ChkDiscInsertion() {
  DiscStop();
  for (int tries = 1;; ++tries) {
    if (TestUnitReady(gDevId) == 0) {
      if (gModel == 0x1041) return 0;  // this model is updated with its disc in place
      ShowMsgId(5, kMsgInfo);
      return -1;
    }
    if (GetErrInfo() != 0) {
      ShowMsgId(8, kMsgLine);
      return -1;
    }
    uint32_t key = gErr >> 16 & 0xFF, asc = gErr >> 8 & 0xFF, ascq = gErr & 0xFF;
    if (key == 2 && asc == 0x3A) return 0;  // no medium
    if (key == 2 && asc == 0x04 && ascq == 0x02) return 0;
    if (key == 2 && asc == 0x04 && ascq == 0x01) {  // becoming ready: a disc is spinning up
      ShowMsgId(6, kMsgLine);
      return -1;
    }
    if (key == 6 && tries < kUnitAttentionTries) continue;  // unit attention: ask again
    if (gIntel != 0 && gErr == 0) return 0;
    ShowMsgId(7, kMsgLine);
    return -1;
  }
}

static bool RunsKernel() {
  return FieldIs(gInq + kInqRevision, "000") && ProductIs("KESTREL DVD-RW  QXR-", 20);
}

int ChkKrnlMode() {
  if (InqCmd(gDevId, gInq) != 0) {
    ShowMsgId(62, kMsgLine);
    return -1;
  }
  gKernel = RunsKernel() ? 1 : 0;
  return gKernel == 1 ? 0 : -1;
}

int ChkKrnlVer() {
  if (InqCmd(gDevId, gInq) != 0) {
    ShowMsgId(9, kMsgLine);
    return -1;
  }
  if (gModel == 0x1003) return 0;
  if (SameBytes(gInq + kInqRevision, pText + kImgKernelVer, 4) &&
      SameBytes(gInq + kInqDate, pText + kImgDate, 8)) {
    ShowMsgId(10, kMsgLine);
    return 1;
  }
  return 0;
}
