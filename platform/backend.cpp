// Default behaviour of a backend: what a machine without the facility does.
#if !defined(_WIN32)

#include "platform/backend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace platform {

FileObject::~FileObject() {
  ::close(fd);
}

DWORD TakePassThrough(LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                      SCSI_PASS_THROUGH_DIRECT* record) {
  constexpr DWORD kRecord = sizeof(SCSI_PASS_THROUGH_DIRECT);
  if (in == nullptr || out == nullptr || inBytes < kRecord || outBytes < kRecord)
    return ERROR_INVALID_PARAMETER;
  SCSI_PASS_THROUGH_DIRECT& r = *record;
  std::memcpy(&r, in, sizeof r);
  bool senseInside =
      r.SenseInfoLength == 0 || (r.SenseInfoOffset >= kRecord && r.SenseInfoOffset <= outBytes &&
                                 r.SenseInfoLength <= outBytes - r.SenseInfoOffset);
  if (r.Length != kRecord || r.CdbLength == 0 || r.CdbLength > sizeof r.Cdb ||
      r.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED || !senseInside ||
      (r.DataTransferLength != 0 && r.DataBuffer == nullptr))
    return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

BOOL Backend::GetVersion(LPOSVERSIONINFOA info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 0;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = '\0';
  return TRUE;
}

void* Backend::Alloc(size_t bytes) {
  return std::calloc(1, bytes == 0 ? 1 : bytes);
}

void Backend::Free(void* block) {
  std::free(block);
}

MMRESULT Backend::TimerPeriod(UINT period, bool) {
  return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR;
}

static bool IsDevicePath(LPCSTR name) {
  return std::strncmp(name, "\\\\.\\", 4) == 0;
}

HANDLE Backend::CreateFile(LPCSTR name, DWORD access, DWORD, DWORD disposition) {
  if (name == nullptr || IsDevicePath(name) || disposition != OPEN_EXISTING ||
      (access & GENERIC_WRITE) != 0) {
    SetLastError(name != nullptr && IsDevicePath(name) ? ERROR_FILE_NOT_FOUND
                                                       : ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == ENOENT   ? ERROR_FILE_NOT_FOUND
                 : errno == EACCES ? ERROR_ACCESS_DENIED
                                   : ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  return new FileObject(fd);
}

BOOL Backend::DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return FALSE;
}

static FileObject* AsFile(HANDLE object) {
  if (object == nullptr || object == INVALID_HANDLE_VALUE) return nullptr;
  return dynamic_cast<FileObject*>(static_cast<Object*>(object));
}

BOOL Backend::ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read) {
  FileObject* f = AsFile(file);
  if (read != nullptr) *read = 0;
  if (f == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD done = 0;
  while (done < toRead) {
    ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastError(ERROR_IO_DEVICE);
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (read != nullptr) *read = done;
  return TRUE;
}

DWORD Backend::GetFileSize(HANDLE file, LPDWORD high) {
  FileObject* f = AsFile(file);
  struct stat st;
  if (f == nullptr || ::fstat(f->fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

BOOL Backend::CloseHandle(HANDLE object) {
  if (object == nullptr || object == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete static_cast<Object*>(object);
  return TRUE;
}

LONG Backend::RegOpenKey(HKEY, LPCSTR, REGSAM, PHKEY) {
  return ERROR_FILE_NOT_FOUND;
}
LONG Backend::RegSubKeyCount(HKEY, LPDWORD) {
  return ERROR_INVALID_HANDLE;
}
LONG Backend::RegEnumKey(HKEY, DWORD, LPSTR, LPDWORD) {
  return ERROR_INVALID_HANDLE;
}
LONG Backend::RegQueryValue(HKEY, LPCSTR, LPDWORD, LPBYTE, LPDWORD) {
  return ERROR_INVALID_HANDLE;
}
LONG Backend::RegCloseKey(HKEY) {
  return ERROR_INVALID_HANDLE;
}

HMODULE Backend::LoadLibrary(LPCSTR) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

FARPROC Backend::GetProcAddress(HMODULE, LPCSTR) {
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

HANDLE Backend::CreateEvent(BOOL manualReset, BOOL initialState) {
  auto* e = new EventObject;
  e->manualReset = manualReset != FALSE;
  e->signalled = initialState != FALSE;
  return e;
}

static EventObject* AsEvent(HANDLE object) {
  if (object == nullptr || object == INVALID_HANDLE_VALUE) return nullptr;
  return dynamic_cast<EventObject*>(static_cast<Object*>(object));
}

BOOL Backend::SetEvent(HANDLE event) {
  EventObject* e = AsEvent(event);
  if (e == nullptr) return FALSE;
  e->signalled = true;
  return TRUE;
}

BOOL Backend::ResetEvent(HANDLE event) {
  EventObject* e = AsEvent(event);
  if (e == nullptr) return FALSE;
  e->signalled = false;
  return TRUE;
}

DWORD Backend::WaitForSingleObject(HANDLE object, DWORD ms) {
  EventObject* e = AsEvent(object);
  if (e == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (!e->signalled) {
    if (ms == INFINITE) {  // nothing can ever signal it: report failure rather than hang
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    SleepMs(ms);
    if (!e->signalled) return WAIT_TIMEOUT;
  }
  if (!e->manualReset) e->signalled = false;
  return WAIT_OBJECT_0;
}

BYTE Backend::PortIn8(WORD) {
  return 0xFF;
}
void Backend::PortOut8(WORD, BYTE) {}
WORD Backend::PortIn16(WORD) {
  return 0xFFFF;
}
void Backend::PortOut16(WORD, WORD) {}

}  // namespace platform

#endif  // !_WIN32
