// The drive command set: one builder per command.
//
// Every builder clears a TagCmdIrp on its stack, fills it, and returns ExecCmdApi's result
// unchanged (0 success, non-zero failure; see transport/cmdapi.h). After a failure the caller runs
// GetErrInfo when it needs the sense. Time-outs are module state: the standard builders send
// gTimeout unless stated otherwise; the vendor commands set gTimeout themselves and leave it set,
// so the next command that does not set its own inherits it.
#pragma once

#include <cstdint>

// --- Standard commands (target index first, then the CDB fields, then the buffer) ---------------

// TEST UNIT READY.
int TestUnitReady(int devNo);
// Collects the 18 sense bytes of the last failed command into buf. The Windows paths receive the
// sense with the failure itself, so this sends nothing and leaves buf alone (returns 0); a
// transport that does not (the DOS register transport sets gSendSense) gets a REQUEST SENSE.
int RequestSense(int devNo, uint8_t* buf);
// INQUIRY, 96 bytes. Time-out 5000 ms, or 1000 ms when an IEEE 1394 adapter or drive is known.
int InqCmd(int devNo, uint8_t* buf);
// START STOP UNIT; only the bits of each field that fit are sent.
int StartStopUnit(int devNo, int immed, int pc, int loej, int start);
// READ BUFFER: offset bits 0..23 and length bits 0..15 go into the CDB; `length` bytes come in.
int ReadBuffer(int devNo, uint8_t mode, uint8_t bufId, uint32_t offset, uint32_t length,
               uint8_t* buf);
// REPORT KEY.
int ReportKey(int devNo, uint8_t keyClass, uint8_t keyFormat, uint8_t agid, uint32_t length,
              uint8_t* buf);
// WRITE BUFFER: as READ BUFFER, data out. Length 0 has no data phase (a pure trigger). A mode-5
// write to an IEEE 1394 drive on the pass-through path carries time-out 0, the transport's limit.
int WriteBuffer(int devNo, uint8_t mode, uint8_t bufId, uint32_t offset, uint32_t length,
                uint8_t* buf);

// --- Vendor commands, all on the current drive gDevId ------------------------------------------

// Read-only drives: enter the update mode (sets gTimeout 1000).
int EntExtMode();
// Read-only drives: flash the transferred image (inherits gTimeout).
int ExecUpdate();
// Read-only drives: one block of the image into the drive's update buffer (inherits gTimeout).
int HexXfer(uint32_t offset, uint16_t length, uint8_t* buf);
// Read-only drives: reads drive ROM from a 24-bit address (sets gTimeout 5000).
int RomXfer(uint32_t address, uint16_t length, uint8_t* buf);
// Recordable drives: one block of the kernel part / of the normal part (set gTimeout 20000).
int DownloadKernel(uint32_t offset, uint16_t length, uint8_t* buf);
int DownloadNormal(uint32_t offset, uint16_t length, uint8_t* buf);
// Recordable drives: switch to the resident update kernel. Shows message 14 on failure and leaves
// gTimeout 10000; on success leaves 1000 and gives the drive 2000 ms to settle.
int MoveToKrnlModeRW(int32_t model);
// Recordable drives: switch back to the normal firmware, which re-flashes the drive. Leaves
// gTimeout 5000. Shows message 15 on a failure that is not one of the known harmless ones, which
// are told by the failure's own sense: gSns is cleared before the request, so a failure that
// brings none is never excused by an earlier command's.
int MoveToNrmlModeRW(int32_t model);
// Stops the disc (time-out 0: the transport's own limit).
int DiscStop();
// Region state into gRgn (cleared first): 0 when the drive's RPC scheme (byte 6) is 1, -1 when
// the query succeeded but the scheme is another or the reply did not reach it, else the failed
// command's result.
int GetDrvRgn();

// --- The mode-switch block ------------------------------------------------------------------

// Bytes of the block both mode switches send from pParam.
constexpr uint32_t kModeBlockLen = 256;
// The mode key a switch puts into the block for the drive whose kernel model name (8 bytes, from
// gRwInfo) is `kernelName`; `toKernel` selects the kernel switch, else the switch back.
uint32_t ModeKey(uint32_t rwKey, const uint8_t* kernelName, bool toKernel);
// Fills the block in pParam for one switch of a drive of model code `model`, keyed from gRwKey and
// the kernel model name in gRwInfo. The whole block is cleared first, so no bytes of an earlier
// command reach the drive.
void FillModeBlock(int32_t model, bool toKernel);
