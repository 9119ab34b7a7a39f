// The update sequence of a recordable drive.
#include "update/dvdrw.h"

#include "commands/submod.h"
#include "common/bytes.h"
#include "common/global.h"
#include "transport/cmdapi.h"
#include "ui/message.h"

constexpr uint32_t kBlock = 0x8000;  // bytes of one kernel or normal block

// Writes the kernel part: its image replaces the normal one in pText, which is loaded again after.
static int WriteKernel() {
  if (LoadBinToBuf(kPartKernel) != 0) {
    ShowMsgId(72, kMsgLine);
    return -1;
  }
  if (ChkKrnlVer() != 0) return -1;
  for (uint32_t offset = 0; offset < kKernelPartLen; offset += kBlock) {
    if (DownloadKernel(offset, kBlock, pText + offset) != 0) {
      ShowMsgId(41, kMsgStop);
      return -1;
    }
  }
  WaitTime(2000);
  if (LoadBinToBuf(kPartNormal) != 0) {
    ShowMsgId(11, kMsgLine);
    return -1;
  }
  return 0;
}

// Writes the normal part in blocks, with a progress line before each.
static int WriteNormal() {
  const bool lateReboot = gIntel != 0 && gIf == 1;  // the drive reboots on the last block
  const uint32_t size = static_cast<uint32_t>(gFwSize);
  PrintMsg("\n");
  uint32_t block = kBlock;
  for (uint32_t offset = 0; offset < size; offset += block) {
    if (lateReboot && offset == size - kBlock) {
      SetOutText("\rProcessing 100%%");
      PrintMsg(gOutText);
      ShowMsgId(44, kMsgLine);
    } else {
      SetOutText("\rProcessing %d%%", static_cast<int>(uint64_t{offset} * 100 / size));
      PrintMsg(gOutText);
    }
    if (size - offset < block) block = size - offset;
    if (DownloadNormal(offset, static_cast<uint16_t>(block), pText + offset) != 0) {
      ShowMsgId(42, kMsgStop);
      return -1;
    }
  }
  if (lateReboot) return 0;
  if (gModel < 0x1005) {
    PrintMsg(LineText(kLineComplete));
    ShowMsgId(44, kMsgLine);
  } else {
    PrintMsg(LineText(kLineReflashing));
  }
  return 0;
}

int ReFlshrw() {
  // A drive that cannot be read now is skipped. The transports report a failed command
  // differently (-1 through ASPI, 2 or -2 through pass-through), so every failure counts: going on
  // would run the update with the entry selected for another drive, or with none.
  if (ChkDrvFirm() != 0) return 1;
  for (;;) {
    gKernel = 0;
    if (LoadBinToBuf(kPartNormal) != 0) {
      ShowMsgId(11, kMsgStop);
      return -1;
    }
    if (ShowInq(0) != 0) return -1;
    if (ChkCurFirm(1) != 0) return 1;
    if (gCaution != 0) {
      if (gModel == 0x1006 && gVer < 0x0023) {
        ShowMsgId(70, kMsgInfo);
      } else if (ShowMsgId(46, kMsgYesNo) == IDNO) {
        ShowMsgId(33, kMsgWarn);
        return 1;
      }
    }
    if (ChkDiscInsertion() != 0) return 1;
    if (gKernel == 0) {
      int r = GetDrvRgn();
      if (r != 0) {
        ShowMsgId(71, kMsgStop);
        return r;
      }
    }
    if (gAllAuto == 0 && ShowMsgId(82, kMsgYesNo) == IDNO) return 7;
    ShowMsgId(61, kMsgLine);

    // From here on a failure may leave the drive without normal firmware: it is fatal.
    if (gKernel == 0) {
      if (MoveToKrnlModeRW(gModel) != 0) return -1;
      WaitTime(1000);
      if (ChkKrnlMode() != 0) return -1;
    }
    if (gUpgType == 0 && WriteKernel() != 0) return -1;
    if (WriteNormal() != 0) return -1;

    int back = MoveToNrmlModeRW(gModel);
    if (gIEEE != -1 || (gIntel != 0 && gIf == 1)) {
      WaitTime(5000);
    } else if (back != 0) {
      WaitTime(2000);
    }
    if (ShowInq(1) != 0) return -1;
    if (!FieldIs(gInq + 32, "000")) break;

    // Still in kernel mode: the switch back did not take.
    if (gIntel != 0 && gIf == 1) {
      MoveToNrmlModeRW(gModel);
      WaitTime(5000);
    }
    if (ShowMsgId(47, kMsgYesNo) != IDYES) return -1;
  }
  ShowMsgId(12, kMsgLine);
  return 0;
}
