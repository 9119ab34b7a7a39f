// Execution of one command request: the pass-through path (NT family) and the ASPI path
// (Windows 9x), the sense data of a failed command, and the drive handle.
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "common/global.h"
#include "platform/aspi.h"
#include "platform/win32.h"
#include "transport/cmdapi.h"
#include "transport/cmdint.h"

namespace {

constexpr ULONG kPtDefaultSeconds = 60;  // pass-through limit of a request that names none
constexpr DWORD kPollMs = 500;           // polling period of the polled ASPI submission
constexpr DWORD kAbortPollMs = 10;       // waiting for the layer to finish an abort ...
constexpr int kAbortPolls = 100;         // ... for at most one second
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kKeyNotReady = 2;

bool IsDataIn(int32_t dir) {
  return dir == kDirIn || dir == kDirIn2;
}
bool IsDataOut(int32_t dir) {
  return dir == kDirOut || dir == kDirOut2;
}

// A request the transport can carry at all; anything else is refused before a drive sees it.
bool WellFormed(const TagCmdIrp& irp) {
  if (irp.cdbLen < 1 || irp.cdbLen > 16 || irp.xferLen < 0) return false;
  if (irp.dir != kDirNone && !IsDataIn(irp.dir) && !IsDataOut(irp.dir)) return false;
  return irp.xferLen == 0 || irp.pBuf != nullptr;
}

UCHAR PtDataIn(int32_t dir) {
  if (IsDataIn(dir)) return SCSI_IOCTL_DATA_IN;
  if (IsDataOut(dir)) return SCSI_IOCTL_DATA_OUT;
  return SCSI_IOCTL_DATA_UNSPECIFIED;
}

BYTE AspiDirFlags(int32_t dir) {
  if (IsDataIn(dir)) return SRB_DIR_IN;
  if (IsDataOut(dir)) return SRB_DIR_OUT;
  return 0;
}

// Brings the sense bytes the last pass-through request returned into gSns. The length comes back
// from the system or the drive and may claim anything up to 255: never more than gSns holds (nor
// than the sense area) is taken, and a short sense clears the bytes it did not supply, so nothing
// of an earlier failure is mixed in. A request that returned no sense leaves gSns alone.
void CopyPtSense() {
  size_t n = gSptd.sptd.SenseInfoLength;
  if (n > sizeof gSns) n = sizeof gSns;
  if (n > sizeof gSptd.sense) n = sizeof gSptd.sense;
  if (n == 0) return;
  std::memcpy(gSns, gSptd.sense, n);
  std::memset(gSns + n, 0, sizeof gSns - n);
}

int ExecPassThrough(const TagCmdIrp& irp) {
  if (OpenDrive(drvid[irp.devNo].letter) != 0) {
    NoteUnreachable();
    return kCmdNoDrive;
  }
  uint32_t ms = static_cast<uint32_t>(irp.timeout);
  ULONG seconds = ms == 0 ? kPtDefaultSeconds : ms / 1000;
  int result =
      PtSend(irp.cdb, irp.cdbLen, irp.dir, irp.pBuf, static_cast<uint32_t>(irp.xferLen), seconds);
  CloseDrive();
  return result;
}

// Clears the request block and fills in the request. False when the block cannot be had.
bool AspiPrepare(int ha, int target, const uint8_t* cdb, int cdbLen, uint8_t* buf, uint32_t len,
                 BYTE senseLen) {
  if (gSrb == nullptr || gAspiSend == nullptr) return false;
  if (!ReleaseSrb()) return false;
  std::memset(gSrb, 0, sizeof *gSrb);
  gSrb->SRB_Cmd = SC_EXEC_SCSI_CMD;
  gSrb->SRB_HaId = static_cast<BYTE>(ha);
  gSrb->SRB_Target = static_cast<BYTE>(target);
  gSrb->SRB_Lun = 0;
  gSrb->SRB_BufPointer = buf;
  gSrb->SRB_BufLen = len;
  gSrb->SRB_SenseLen = senseLen;
  gSrb->SRB_CDBLen = static_cast<BYTE>(cdbLen);
  std::memcpy(gSrb->CDBByte, cdb, static_cast<size_t>(cdbLen));
  return true;
}

// Submits the prepared block with event notification. False when no event could be made.
bool AspiSubmitWithEvent(BYTE dirFlags) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) {
    gSysErr = GetLastError();
    return false;
  }
  gSrb->SRB_Flags = static_cast<BYTE>(dirFlags | SRB_EVENT_NOTIFY);
  gSrb->SRB_PostProc = event;
  gEvent = event;
  gSrbBusy = 1;
  gAspiSend(gSrb);
  return true;
}

// The outcome of a completed request: 0 good, else -1 with its sense in gSns. With the Intel IDE
// driver a NOT READY is tolerated for every command but TEST UNIT READY, whose very purpose is to
// tell it.
int AspiOutcome(uint8_t opcode) {
  if (gSrb->SRB_Status == SS_COMP) return kCmdGood;
  std::memcpy(gSns, gSrb->SenseArea, sizeof gSns);
  GetErrInfo();
  if (gIntel == 1 && opcode != kOpTestUnitReady && ((gErr >> 16) & 0xFF) == kKeyNotReady)
    return kCmdGood;
  return kCmdFailed;
}

// Polled submission, for requests the layer does not signal reliably (WRITE BUFFER through the
// IEEE 1394 adapter, the mode-5 WRITE BUFFER of model 0x1003). The time-out is judged before the
// status of the same pass. Returns 0 when the request completed, -1 when it ran out of time.
int AspiPoll(const TagCmdIrp& irp, BYTE dirFlags) {
  gSrb->SRB_Flags = dirFlags;
  gSrbBusy = 1;
  gAspiSend(gSrb);
  uint32_t elapsed = 0;
  for (;;) {
    Sleep(kPollMs);
    if (irp.timeout != 0) {
      elapsed += kPollMs;
      if (elapsed > static_cast<uint32_t>(irp.timeout)) return kCmdFailed;
    }
    if (gSrb->SRB_Status != SS_PENDING) return kCmdGood;
  }
}

// A request that did not complete (the block could not be had, no event, the wait or the polling
// ran out of time) leaves no sense of its own: gSns gets the one of an unreachable drive, so an
// earlier failure's NOT READY is never read as this request's outcome.
int AspiIncomplete(int result) {
  SenseUnreachable();
  return result;
}

int ExecAspi(const TagCmdIrp& irp) {
  const TagDrvId& drv = drvid[irp.devNo];
  if (!AspiPrepare(drv.haNo, drv.tgtNo, irp.cdb, irp.cdbLen, irp.pBuf,
                   static_cast<uint32_t>(irp.xferLen), kSenseLen))
    return AspiIncomplete(kCmdNoDrive);
  BYTE dirFlags = AspiDirFlags(irp.dir);
  bool polled =
      irp.cdb[0] == kOpWriteBuffer && (drv.haNo == gIEEE || (gModel == 0x1003 && irp.cdb[1] == 5));
  if (polled) {
    // A request that ran out of time stays with the layer; the next use of the block aborts it.
    if (AspiPoll(irp, dirFlags) != kCmdGood) return AspiIncomplete(kCmdFailed);
  } else {
    if (!AspiSubmitWithEvent(dirFlags)) return AspiIncomplete(kCmdFailed);
    if (gNoWait == 1) return kCmdGood;  // left running; ChkCmdDone completes it
    DWORD limit = irp.timeout == 0 || gOemId == 0x300 ? INFINITE : static_cast<DWORD>(irp.timeout);
    DWORD waited = WaitForSingleObject(gEvent, limit);
    // Still pending: abandoned. Its event stays open, since the layer will still signal it, until
    // the request is aborted before the block is used again.
    if (gSrb->SRB_Status == SS_PENDING) return AspiIncomplete(kCmdNoDrive);
    if (waited == WAIT_TIMEOUT) {
      ReleaseSrb();
      return AspiIncomplete(kCmdNoDrive);
    }
  }
  int result = AspiOutcome(irp.cdb[0]);
  ReleaseSrb();
  return result;
}

}  // namespace

void SenseUnreachable() {
  // Fixed-format sense: current error, aborted command, logical unit communication failure.
  static const uint8_t kUnreachable[kSenseLen] = {0x70, 0, 0x0B, 0,    0, 0, 0, 10, 0,
                                                  0,    0, 0,    0x08, 0, 0, 0, 0,  0};
  std::memcpy(gSns, kUnreachable, sizeof gSns);
}

void NoteUnreachable() {
  SenseUnreachable();
  std::memset(gSptd.sense, 0, sizeof gSptd.sense);
  std::memcpy(gSptd.sense, gSns, sizeof gSns);
  gSptd.sptd.SenseInfoLength = kSenseLen;
  gStatus = 2;
}

int PtSend(const uint8_t* cdb, int cdbLen, int dir, uint8_t* buf, uint32_t len, ULONG seconds) {
  std::memset(&gSptd, 0, sizeof gSptd);
  SCSI_PASS_THROUGH_DIRECT& r = gSptd.sptd;
  r.Length = sizeof r;
  r.PathId = gScsiAddr.PathId;
  r.TargetId = gScsiAddr.TargetId;
  r.Lun = gScsiAddr.Lun;
  r.CdbLength = static_cast<UCHAR>(cdbLen);
  r.SenseInfoLength = kSenseLen;
  r.DataIn = PtDataIn(dir);
  r.DataTransferLength = len;
  r.TimeOutValue = seconds;
  r.DataBuffer = buf;
  r.SenseInfoOffset = offsetof(TagSptdBlock, sense);
  std::memcpy(r.Cdb, cdb, static_cast<size_t>(cdbLen));

  DWORD returned = 0;
  if (!DeviceIoControl(gDrvHandle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &gSptd, sizeof gSptd, &gSptd,
                       sizeof gSptd, &returned, nullptr)) {
    // The drive vanished, the system refused the request or it timed out: the record's status
    // says nothing then, and the command must not pass for a success.
    gSysErr = GetLastError();
    NoteUnreachable();
    return kCmdNoDrive;
  }
  if (r.ScsiStatus != 0) {
    CopyPtSense();
    gStatus = kCmdStatus;
  } else {
    gStatus = kCmdGood;
  }
  return gStatus;
}

int AspiInquiryCmd(int ha, int target, const uint8_t* cdb, int cdbLen, uint8_t* buf, uint32_t len) {
  if (!AspiPrepare(ha, target, cdb, cdbLen, buf, len, 0)) return kCmdFailed;
  if (!AspiSubmitWithEvent(SRB_DIR_IN)) return kCmdFailed;
  WaitForSingleObject(gEvent, INFINITE);
  if (gSrb->SRB_Status == SS_PENDING) return kCmdFailed;  // aborted before the next request
  int result = gSrb->SRB_Status == SS_COMP ? kCmdGood : kCmdFailed;
  ReleaseSrb();
  return result;
}

bool ReleaseSrb() {
  if (gSrbBusy == 0) return true;
  if (gSrb->SRB_Status == SS_PENDING) {
    SRB_Abort abort;
    std::memset(&abort, 0, sizeof abort);
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = gSrb->SRB_HaId;
    abort.SRB_ToAbort = gSrb;
    gAspiSend(&abort);
    for (int i = 0; i < kAbortPolls && gSrb->SRB_Status == SS_PENDING; ++i)
      Sleep(kAbortPollMs);
    if (gSrb->SRB_Status == SS_PENDING) return false;
  }
  if (gEvent != nullptr) {
    CloseHandle(gEvent);
    gEvent = nullptr;
  }
  gSrbBusy = 0;
  return true;
}

int ExecCmdApi(TagCmdIrp* irp) {
  if (irp == nullptr || irp->devNo < 0 || irp->devNo >= gDevn || irp->devNo >= kDrvMax)
    return kCmdFailed;
  if (!WellFormed(*irp)) return kCmdFailed;
  return gIf == 1 ? ExecAspi(*irp) : ExecPassThrough(*irp);
}

int GetErrInfo() {
  if (gIf != 1) CopyPtSense();
  gErr = static_cast<uint32_t>(gSns[2]) << 16 | static_cast<uint32_t>(gSns[12]) << 8 | gSns[13];
  return 0;
}

int ChkCmdDone() {
  gNoWait = 0;
  if (gSrb == nullptr) return kCmdFailed;
  if (gEvent == nullptr) {  // nothing left running: report how the last request ended
    if (gSrb->SRB_Status == SS_PENDING) return 1;
    return gSrb->SRB_Status == SS_COMP ? 0 : kCmdFailed;
  }
  if (WaitForSingleObject(gEvent, 0) != WAIT_OBJECT_0) return 1;
  ReleaseSrb();
  return gSrb->SRB_Status == SS_COMP ? 0 : kCmdFailed;
}

int OpenDrive(char letter) {
  gIEEE = -1;
  CloseDrive();
  std::memset(&gScsiAddr, 0, sizeof gScsiAddr);
  char path[8];
  std::snprintf(path, sizeof path, "\\\\.\\%c:", letter);
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    gSysErr = GetLastError();
    return -1;
  }
  gDrvHandle = h;

  // Only a drive that answers at all matters; a port that cannot report its capabilities is fine.
  IO_SCSI_CAPABILITIES caps;
  std::memset(&caps, 0, sizeof caps);
  DWORD returned = 0;
  if (!DeviceIoControl(h, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps, &returned,
                       nullptr)) {
    DWORD err = GetLastError();
    if (err != ERROR_INVALID_FUNCTION && err != ERROR_NOT_SUPPORTED) {
      gSysErr = err;
      CloseDrive();
      return -1;
    }
  }

  // A drive behind a driver that is not a SCSI port (IEEE 1394) has no address: it is then
  // addressed with zeros and remembered as the IEEE 1394 drive.
  SCSI_ADDRESS addr;
  std::memset(&addr, 0, sizeof addr);
  if (!DeviceIoControl(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &addr, sizeof addr, &returned,
                       nullptr)) {
    DWORD err = GetLastError();
    if (err != ERROR_NOT_SUPPORTED) {
      gSysErr = err;
      CloseDrive();
      return -1;
    }
    gIEEE = gDevId;
    std::memset(&addr, 0, sizeof addr);
  }
  gScsiAddr = addr;
  return 0;
}

void CloseDrive() {
  if (gDrvHandle != nullptr) CloseHandle(gDrvHandle);
  gDrvHandle = nullptr;
}
