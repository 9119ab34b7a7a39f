// The Linux host's drives: drive letters as SCSI generic nodes, and the pass-through record
// carried by one SG_IO request. Small pure pieces, so that each can be checked without a drive.
#pragma once

#if !defined(_WIN32)

#include <scsi/sg.h>

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace platform::sgio {

constexpr int kDriveCount = 23;  // letters D..Z
constexpr uint8_t kMaxSense = 18;

// Index of a drive letter (D..Z, any case) among the optical drives, or -1.
int DriveIndex(char letter);
// The letter of a device path "\\.\X:", or 0 when the name is not one.
char DevicePathLetter(const char* name);
// "/dev/srN" of drive index N.
std::string DriveNode(int index);
// The media event polling setting of drive index N under sysfs root `sys` ("/sys").
std::string PollFile(const std::string& sys, int index);

// Fills `hdr` for one SG_IO request from the pass-through record: same CDB, direction and buffer
// (not copied), time-out in milliseconds, sense into `sense` (room for kMaxSense bytes).
void ToSgIo(SCSI_PASS_THROUGH_DIRECT& sptd, uint8_t* sense, sg_io_hdr_t* hdr);
// Brings a finished request back into the record: SCSI status, sense length, bytes moved. Returns
// ERROR_SUCCESS, or the system error of a request the host or its driver could not carry out.
DWORD FromSgIo(const sg_io_hdr_t& hdr, SCSI_PASS_THROUGH_DIRECT* sptd);

// The address SCSI_IOCTL_GET_IDLUN reports in its first word.
SCSI_ADDRESS AddressOfIdLun(int idLun);

// System error of a failed open or ioctl.
DWORD ErrorOfErrno(int err);

// Pauses the kernel's media event polling by writing 0 to `file`; `old` gets the value to put back.
// False when the setting could not be read or written.
bool PausePolling(const std::string& file, std::string* old);
void ResumePolling(const std::string& file, const std::string& old);

// True when this process may send WRITE BUFFER through SG_IO (CAP_SYS_RAWIO in effect).
bool HasRawIo();

}  // namespace platform::sgio

#endif  // !_WIN32
