// Waiting and elapsed time, on the system's multimedia timer.
#include "common/global.h"
#include "platform/win32.h"
#include "transport/cmdapi.h"

// Finest period worth asking for before giving up: coarser timers are no use to the waits.
static constexpr UINT kMaxPeriod = 100;

void GetStartTime() {
  gTmPeriod = 0;
  for (UINT period = 1; period <= kMaxPeriod; ++period) {
    if (timeBeginPeriod(period) == TIMERR_NOERROR) {
      gTmPeriod = period;
      break;
    }
  }
  startTime = timeGetTime();
}

void GetStopTime() {
  stopTime = timeGetTime();
  if (gTmPeriod != 0) timeEndPeriod(gTmPeriod);
}

uint32_t GetLapTime() {
  lapTime = timeGetTime();
  return lapTime;
}

// Sleeps until the deadline; the elapsed time is compared, not the end time, so a timer that
// wraps around during the wait does not end it early.
void WaitTime(uint32_t ms) {
  GetStartTime();
  while (GetLapTime() - startTime < ms)
    Sleep(ms - (lapTime - startTime));
  GetStopTime();
}
