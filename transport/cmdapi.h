// The command transport: start-up, enumeration of the targets and execution of one request.
#pragma once

#include <cstdint>

#include "common/types.h"

// Results of ExecCmdApi.
enum : int {
  kCmdGood = 0,
  kCmdStatus = 2,    // pass-through: the drive returned a non-zero status; sense in gSns
  kCmdFailed = -1,   // bad target index; ASPI: the command failed or the polled wait ran out
  kCmdNoDrive = -2,  // pass-through: the drive could not be opened; ASPI: the event never came
};

// Opens the transport: chooses the path, allocates the buffers, looks for the Intel IDE driver and
// the IEEE 1394 adapter. Returns the start-up's result (0, or non-zero when nothing can be
// reached).
int InitCmdApi();
// Closes the transport: gives back media change notification and frees the buffers.
void EndCmdApi();

// Builds the target list from the drives that match an update entry; returns gDevn.
int EnumDevice();
// Index of the first update entry that accepts the drive with this INQUIRY data (and gRwInfo), or
// -1.
int ChkInq(const uint8_t* inq);
// Media change control of recorded CD/DVD drive m: off at enumeration, back on at the end.
int StartMcnCtl(int m);
int EndMcnCtl(int m);

// Executes one request on target irp->devNo; see the results above.
int ExecCmdApi(TagCmdIrp* irp);
// Brings the sense bytes of the last failed command into gSns and decodes them into gErr.
int GetErrInfo();
// For a request left running (gNoWait): 1 still running, 0 completed good, -1 completed otherwise.
int ChkCmdDone();
// Opens (and closes) the drive handle of a drive letter on the pass-through path.
int OpenDrive(char letter);
void CloseDrive();

// Milliseconds of the multimedia timer.
void GetStartTime();
void GetStopTime();
uint32_t GetLapTime();
// Waits at least ms milliseconds, sleeping rather than spinning.
void WaitTime(uint32_t ms);
