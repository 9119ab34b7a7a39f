#include "driver/reflsh.h"

#include "common/global.h"
#include "driver/defdata.h"
#include "platform/win32.h"
#include "transport/cmdapi.h"
#include "ui/message.h"
#include "update/dvdrom.h"
#include "update/dvdrw.h"

void ChkOption(int, char**) {}

// Runs the update procedure of the definition's drive class on target gDevId. Returns its result,
// or 1 (skipped) for a class that has no procedure.
static int RunProcedure() {
  switch (gModelA[0] & 0xF000) {
    case 0x0000:
      return ReFlshrom();
    case 0x1000:
      return ReFlshrw();
    default:
      return 1;
  }
}

int ReflshMain(int argc, char** argv) {
  gAllAuto = 1;
  gNoWait = 0;
  gAutoRun = 0;

  SetOutText("\n/// ODD Firmware Update Utility Ver%1d.%02d%c\n", 2, 57, 'C');
  PrintMsg(gOutText);

  gOemCodePage = GetOEMCP();
  ChkOption(argc, argv);
  SetDefData();
  InitCmdApi();

  if (EnumDevice() == 0) {
    // A user without administrator rights learns why no drive could be examined.
    if (gDenied) ShowMsgId(87, kMsgStop);
    ShowMsgId(28, kMsgInfo);
    EndCmdApi();
    return 1;
  }

  if (gDevn >= 2) {
    if (ShowMsgId(31, kMsgYesNo) == IDNO) gAllAuto = 0;
  } else {
    gAllAuto = 0;
  }

  if (gIf == 1 && gModelA[0] == 9 && gFwVer < 0x108) {
    ShowMsgId(63, kMsgInfo);
    EndCmdApi();
    return 1;
  }

  gExecNum = 0;
  gComplete = 0;
  for (int i = 0; i < gDevn; ++i) {
    gDevId = i;
    ShowMsgId(34, kMsgLine);
    int result = RunProcedure();
    if (result == 0) {
      ++gComplete;
      WaitTime(2000);
    } else if (result == -1) {
      ShowMsgId(36, kMsgWarn);
      EndCmdApi();
      return 1;
    }
    ++gExecNum;
  }

  if (gComplete == gDevn) {
    ShowMsgId(35, kMsgInfo);
  } else if (gComplete != 0) {
    ShowMsgId(58, kMsgInfo);
  }
  EndCmdApi();
  return 0;
}
