// What the transport's own modules share: one request on an open drive handle (pass-through) and
// on the one ASPI request block. Not for the rest of the program, which goes through cmdapi.h.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Sends one CDB on the open drive handle gDrvHandle, with the address OpenDrive obtained. Returns
// 0 (good status), 2 (the drive returned a non-zero status; its sense is in gSns) or -2 (the
// request never reached the drive; gSns holds the "communication failure" sense).
int PtSend(const uint8_t* cdb, int cdbLen, int dir, uint8_t* buf, uint32_t len, ULONG seconds);

// Sends one data-in CDB to (ha, target) on the ASPI request block, without sense data, and waits
// for it without limit, as enumeration does. Returns 0 when it completed good, -1 otherwise.
int AspiInquiryCmd(int ha, int target, const uint8_t* cdb, int cdbLen, uint8_t* buf, uint32_t len);

// Makes the ASPI request block ours again: a request still pending in the layer (abandoned after
// a time-out, or left running with gNoWait) is aborted first, and its event closed. Returns false
// when the layer still owns the block, which then must be neither reused nor freed.
bool ReleaseSrb();

// Fills the pass-through sense area and gSns with the sense of a request that could not reach the
// drive: aborted command, logical unit communication failure (0B/08/00). Never "not ready", so no
// caller takes a vanished drive for an empty one.
void NoteUnreachable();
// The same sense in gSns alone (the ASPI path has no pass-through record).
void SenseUnreachable();

// The IEEE 1394 auto-insert check (Windows 9x): adds to gAutoRun the AutoInsertNotification byte
// of each present drive instance under the adapter gIEEE. Returns 0, or the registry error that
// ended the check (printed, except a missing adapter key).
LONG ChkAutoInsert();
// True (0) when the Configuration Manager lists the device instance as present, else -1.
int ChkConfigManager(const char* instance);
