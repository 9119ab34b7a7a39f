// Pieces of the Linux host's drive access that need no drive: names, the SG_IO translation,
// errors, media event polling and the privilege check.
#if !defined(_WIN32)

#include "platform/sgio_linux.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

namespace platform::sgio {

namespace {

// Host byte of a finished request.
constexpr unsigned kDidOk = 0x00;
constexpr unsigned kDidNoConnect = 0x01;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDidBadTarget = 0x04;
// Driver byte: its low nibble; "sense available" is not an error.
constexpr unsigned kDriverTimeout = 0x06;
constexpr unsigned kDriverSense = 0x08;

constexpr DWORD kErrorSharingViolation = 32;

}  // namespace

int DriveIndex(char letter) {
  int upper = std::toupper(static_cast<unsigned char>(letter));
  if (upper < 'D' || upper > 'Z') return -1;
  return upper - 'D';
}

char DevicePathLetter(const char* name) {
  if (name == nullptr || std::strlen(name) != 6 || std::strncmp(name, "\\\\.\\", 4) != 0 ||
      name[5] != ':' || !std::isalpha(static_cast<unsigned char>(name[4])))
    return 0;
  return name[4];
}

std::string DriveNode(int index) {
  return "/dev/sr" + std::to_string(index);
}

std::string PollFile(const std::string& sys, int index) {
  return sys + "/block/sr" + std::to_string(index) + "/events_poll_msecs";
}

void ToSgIo(SCSI_PASS_THROUGH_DIRECT& sptd, uint8_t* sense, sg_io_hdr_t* hdr) {
  std::memset(hdr, 0, sizeof *hdr);
  hdr->interface_id = 'S';
  unsigned len = sptd.DataTransferLength;
  if (len == 0 || sptd.DataIn == SCSI_IOCTL_DATA_UNSPECIFIED) {
    hdr->dxfer_direction = SG_DXFER_NONE;
    len = 0;
  } else if (sptd.DataIn == SCSI_IOCTL_DATA_IN) {
    hdr->dxfer_direction = SG_DXFER_FROM_DEV;
  } else {
    hdr->dxfer_direction = SG_DXFER_TO_DEV;
  }
  hdr->cmd_len = sptd.CdbLength <= sizeof sptd.Cdb ? sptd.CdbLength : sizeof sptd.Cdb;
  hdr->cmdp = sptd.Cdb;
  hdr->mx_sb_len = sptd.SenseInfoLength < kMaxSense ? sptd.SenseInfoLength : kMaxSense;
  hdr->sbp = sense;
  hdr->dxfer_len = len;
  hdr->dxferp = len != 0 ? sptd.DataBuffer : nullptr;
  hdr->timeout = sptd.TimeOutValue > UINT_MAX / 1000 ? UINT_MAX : sptd.TimeOutValue * 1000;
}

// Classified once, in this order: the host adapter, then the driver, then the drive's status.
DWORD FromSgIo(const sg_io_hdr_t& hdr, SCSI_PASS_THROUGH_DIRECT* sptd) {
  switch (hdr.host_status) {
    case kDidOk:
      break;
    case kDidNoConnect:
    case kDidBadTarget:
      return ERROR_DEVICE_NOT_CONNECTED;
    case kDidTimeOut:
      return ERROR_SEM_TIMEOUT;
    default:
      return ERROR_IO_DEVICE;
  }
  unsigned driver = hdr.driver_status & 0x0F;
  if (driver == kDriverTimeout) return ERROR_SEM_TIMEOUT;
  if (driver != 0 && driver != kDriverSense && hdr.status == 0) return ERROR_IO_DEVICE;

  sptd->ScsiStatus = hdr.status;
  unsigned sense = 0;
  if (hdr.status != 0) {
    sense = hdr.sb_len_wr;
    if (sense > hdr.mx_sb_len) sense = hdr.mx_sb_len;
  }
  sptd->SenseInfoLength = static_cast<UCHAR>(sense);
  unsigned resid = hdr.resid < 0 ? 0u : static_cast<unsigned>(hdr.resid);
  sptd->DataTransferLength = resid >= hdr.dxfer_len ? 0 : hdr.dxfer_len - resid;
  return ERROR_SUCCESS;
}

SCSI_ADDRESS AddressOfIdLun(int idLun) {
  unsigned v = static_cast<unsigned>(idLun);
  SCSI_ADDRESS a;
  std::memset(&a, 0, sizeof a);
  a.Length = sizeof a;
  a.TargetId = static_cast<UCHAR>(v & 0xFF);
  a.Lun = static_cast<UCHAR>((v >> 8) & 0xFF);
  a.PathId = static_cast<UCHAR>((v >> 16) & 0xFF);
  a.PortNumber = static_cast<UCHAR>((v >> 24) & 0xFF);
  return a;
}

DWORD ErrorOfErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENXIO:
    case ENODEV:
      return ERROR_DEVICE_NOT_CONNECTED;
    case EBUSY:
      return kErrorSharingViolation;
    case ETIMEDOUT:
      return ERROR_SEM_TIMEOUT;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EIO:
      return ERROR_IO_DEVICE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

// Writes a sysfs setting whole. False when it could not be written.
static bool WriteSetting(const std::string& file, const std::string& value) {
  int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
  ::close(fd);
  return ok;
}

bool PausePolling(const std::string& file, std::string* old) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[32] = {};
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return false;
  std::string value(buf, static_cast<size_t>(n));
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
    value.pop_back();
  if (value.empty() || !WriteSetting(file, "0")) return false;
  *old = value;
  return true;
}

void ResumePolling(const std::string& file, const std::string& old) {
  WriteSetting(file, old);  // on failure the kernel keeps its present setting
}

bool HasRawIo() {
  __user_cap_header_struct header;
  std::memset(&header, 0, sizeof header);
  header.version = _LINUX_CAPABILITY_VERSION_3;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
  std::memset(data, 0, sizeof data);
  if (::syscall(SYS_capget, &header, data) == 0)
    return (data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective & CAP_TO_MASK(CAP_SYS_RAWIO)) != 0;
  return ::geteuid() == 0;
}

}  // namespace platform::sgio

#endif  // !_WIN32
