// Transport start-up, enumeration and shutdown. No path is wired yet: the program finds no drive.
#include "common/global.h"
#include "transport/cmdapi.h"

int InitCmdApi() {
  gTimeout = 1000;
  return 0;
}

void EndCmdApi() {}

int EnumDevice() {
  gDevn = 0;
  return 0;
}
