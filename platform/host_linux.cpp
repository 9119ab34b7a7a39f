// The host backend: the real Linux machine.
#if !defined(_WIN32)

#include <fcntl.h>
#include <scsi/scsi.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/sgio_linux.h"

namespace platform {
namespace {

// A drive node opened for one request (SG_IO needs read and write access).
struct DriveObject : Object {
  explicit DriveObject(int fd) : fd(fd) {}
  ~DriveObject() override { ::close(fd); }
  int fd;
};

// The media change control of one drive: an exclusive open of its node, so that nothing mounts
// it during the run, and the kernel's media event polling paused. Both end with flag 0 or when
// the handle is closed.
struct McnObject : Object {
  McnObject(int fd, int index) : fd(fd), index(index) {}
  ~McnObject() override { Release(); }
  void Hold() {
    if (fd < 0)
      fd = ::open(sgio::DriveNode(index).c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (!paused) paused = sgio::PausePolling(sgio::PollFile("/sys", index), &oldPoll);
  }
  void Release() {
    if (paused) sgio::ResumePolling(sgio::PollFile("/sys", index), oldPoll);
    paused = false;
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fd;
  int index;
  bool paused = false;
  std::string oldPoll;
};

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// What the program's SCSI queries expect of a port; the program only needs them to answer.
constexpr ULONG kMaxTransfer = 0x10000;

class Host : public Backend {
 public:
  void ConsoleWrite(const char* text) override {
    std::string out = ConsoleToTerminal(text, OemCodePage(), LocaleCharset(ConsoleLocale()));
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
  }

  int MessageBox(const char* text, const char* caption, UINT flags) override {
    std::string body = ConsoleToTerminal(text, OemCodePage(), LocaleCharset(ConsoleLocale()));
    return TerminalMessageBox(body, caption, flags, stdin, stdout);
  }

  UINT OemCodePage() override { return LocaleCodePage(ConsoleLocale()); }

  DWORD NowMs() override {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
  }

  // Sleeps to an absolute deadline, so an interrupted sleep neither returns early nor drifts.
  void SleepMs(DWORD ms) override {
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
  }

  // Drive letters D..Z are /dev/sr0../dev/sr22. A request handle needs CAP_SYS_RAWIO, without
  // which the kernel refuses WRITE BUFFER: refusing the open, as Windows does for a user without
  // administrator rights, lets the program say so.
  HANDLE CreateFile(LPCSTR name, DWORD access, DWORD share, DWORD disposition) override {
    char letter = sgio::DevicePathLetter(name);
    if (letter == 0) return Backend::CreateFile(name, access, share, disposition);
    int index = sgio::DriveIndex(letter);
    if (index < 0 || disposition != OPEN_EXISTING) {
      SetLastError(index < 0 ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    std::string node = sgio::DriveNode(index);
    if (access == 0) {
      int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
      if (fd < 0) {
        SetLastError(sgio::ErrorOfErrno(errno));
        return INVALID_HANDLE_VALUE;
      }
      return new McnObject(fd, index);
    }
    int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      int err = errno;
      SetLastError(err == ENXIO || err == ENODEV ? ERROR_FILE_NOT_FOUND : sgio::ErrorOfErrno(err));
      return INVALID_HANDLE_VALUE;
    }
    if (!sgio::HasRawIo()) {
      ::close(fd);
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    return new DriveObject(fd);
  }

  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                       DWORD outBytes, LPDWORD returned) override {
    *returned = 0;
    Object* object = device != nullptr && device != INVALID_HANDLE_VALUE
                         ? static_cast<Object*>(device)
                         : nullptr;
    if (auto* mcn = dynamic_cast<McnObject*>(object)) {
      if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) return Fail(ERROR_ACCESS_DENIED);
      if (code != IOCTL_STORAGE_MCN_CONTROL) return Fail(ERROR_INVALID_FUNCTION);
      if (in == nullptr || inBytes < sizeof(PREVENT_MEDIA_REMOVAL))
        return Fail(ERROR_INVALID_PARAMETER);
      if (static_cast<const PREVENT_MEDIA_REMOVAL*>(in)->PreventMediaRemoval != 0)
        mcn->Hold();
      else
        mcn->Release();
      return TRUE;  // what could not be done is of no consequence
    }
    auto* drive = dynamic_cast<DriveObject*>(object);
    if (drive == nullptr)
      return Backend::DeviceIoControl(device, code, in, inBytes, out, outBytes, returned);
    switch (code) {
      case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return PassThrough(*drive, in, inBytes, out, outBytes, returned);
      case IOCTL_SCSI_GET_ADDRESS: {
        if (out == nullptr || outBytes < sizeof(SCSI_ADDRESS)) return Fail(ERROR_INVALID_PARAMETER);
        int idLun[2] = {0, 0};
        if (::ioctl(drive->fd, SCSI_IOCTL_GET_IDLUN, idLun) != 0)
          return Fail(sgio::ErrorOfErrno(errno));
        SCSI_ADDRESS addr = sgio::AddressOfIdLun(idLun[0]);
        std::memcpy(out, &addr, sizeof addr);
        *returned = sizeof addr;
        return TRUE;
      }
      case IOCTL_SCSI_GET_CAPABILITIES: {
        if (out == nullptr || outBytes < sizeof(IO_SCSI_CAPABILITIES))
          return Fail(ERROR_INVALID_PARAMETER);
        IO_SCSI_CAPABILITIES caps;
        std::memset(&caps, 0, sizeof caps);
        caps.Length = sizeof caps;
        caps.MaximumTransferLength = kMaxTransfer;
        caps.MaximumPhysicalPages = kMaxTransfer / 4096 + 1;
        std::memcpy(out, &caps, sizeof caps);
        *returned = sizeof caps;
        return TRUE;
      }
      default:
        return Fail(ERROR_INVALID_FUNCTION);
    }
  }

 private:
  // One SG_IO request for one pass-through record; the sense lands inside the caller's block.
  static BOOL PassThrough(DriveObject& drive, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                          LPDWORD returned) {
    SCSI_PASS_THROUGH_DIRECT r;
    DWORD bad = TakePassThrough(in, inBytes, out, outBytes, &r);
    if (bad != ERROR_SUCCESS) return Fail(bad);

    uint8_t sense[sgio::kMaxSense] = {};
    sg_io_hdr_t hdr;
    sgio::ToSgIo(r, sense, &hdr);
    if (::ioctl(drive.fd, SG_IO, &hdr) != 0) return Fail(sgio::ErrorOfErrno(errno));
    DWORD err = sgio::FromSgIo(hdr, &r);
    if (err != ERROR_SUCCESS) return Fail(err);
    if (r.SenseInfoLength != 0)
      std::memcpy(static_cast<uint8_t*>(out) + r.SenseInfoOffset, sense, r.SenseInfoLength);
    std::memcpy(out, &r, sizeof r);
    *returned = sizeof r;
    return TRUE;
  }
};

}  // namespace

Backend& HostBackend() {
  static Host host;
  return host;
}

}  // namespace platform

#endif  // !_WIN32
