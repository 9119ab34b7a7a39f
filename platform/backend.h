// The machine beneath the Win32 subset of win32.h, on systems other than Windows.
//
// Every Win32 call of the program lands in the one installed Backend. The host backend is the real
// Linux machine (SG_IO drives, the terminal, CLOCK_MONOTONIC); the simulated backend of sim/ is a
// virtual machine with virtual drives and a virtual clock. Only platform/ and sim/ see this file.
//
// Handles are Object pointers owned by the backend that made them; CloseHandle deletes them.
// Methods with a body here are what a machine without that facility does (no registry keys, no
// ASPI library, regular files from the current directory), so a backend overrides only what it has.
#pragma once

#include <cstdio>
#include <string>

#include "platform/win32.h"

#if !defined(_WIN32)

namespace platform {

// Base of every object a HANDLE points to.
struct Object {
  virtual ~Object() = default;
};

// A regular file opened for reading, shared by the backends.
struct FileObject : Object {
  explicit FileObject(int fd) : fd(fd) {}
  ~FileObject() override;
  int fd;
};

// An event as CreateEventA makes it. Nothing else runs while the program waits, so a backend that
// completes work asynchronously (the simulated ASPI layer) signals it from within its clock.
struct EventObject : Object {
  bool manualReset = false;
  bool signalled = false;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Console and user. Text arrives in the console's code page (OemCodePage()).
  virtual void ConsoleWrite(const char* text) = 0;
  virtual int MessageBox(const char* text, const char* caption, UINT flags) = 0;
  virtual UINT OemCodePage() = 0;

  // Version: an NT-family system unless a backend says otherwise.
  virtual BOOL GetVersion(LPOSVERSIONINFOA info);

  // Memory: zero-filled blocks; nullptr when the machine has no room.
  virtual void* Alloc(size_t bytes);
  virtual void Free(void* block);

  // Clock in milliseconds (wraps at 2^32 like timeGetTime) and sleeping until a deadline.
  virtual DWORD NowMs() = 0;
  virtual void SleepMs(DWORD ms) = 0;
  virtual MMRESULT TimerPeriod(UINT period, bool begin);

  // Files and devices. The defaults open regular files for reading relative to the current
  // directory and know no devices.
  virtual HANDLE CreateFile(LPCSTR name, DWORD access, DWORD share, DWORD disposition);
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                               DWORD outBytes, LPDWORD returned);
  virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read);
  virtual DWORD GetFileSize(HANDLE file, LPDWORD high);
  virtual BOOL CloseHandle(HANDLE object);

  // Registry: the default machine has no keys.
  virtual LONG RegOpenKey(HKEY key, LPCSTR subKey, REGSAM access, PHKEY result);
  virtual LONG RegSubKeyCount(HKEY key, LPDWORD subKeys);
  virtual LONG RegEnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameLen);
  virtual LONG RegQueryValue(HKEY key, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD dataLen);
  virtual LONG RegCloseKey(HKEY key);

  // Dynamic libraries: the default machine has none (in particular no ASPI layer).
  virtual HMODULE LoadLibrary(LPCSTR name);
  virtual FARPROC GetProcAddress(HMODULE module, LPCSTR name);

  // Events. The default wait returns at once when the event is signalled and otherwise sleeps out
  // its time-out, since nothing else could signal it.
  virtual HANDLE CreateEvent(BOOL manualReset, BOOL initialState);
  virtual BOOL SetEvent(HANDLE event);
  virtual BOOL ResetEvent(HANDLE event);
  virtual DWORD WaitForSingleObject(HANDLE object, DWORD ms);

  // Port I/O of the DOS front end's register transport. The default bus floats (reads all ones).
  virtual BYTE PortIn8(WORD port);
  virtual void PortOut8(WORD port, BYTE value);
  virtual WORD PortIn16(WORD port);
  virtual void PortOut16(WORD port, WORD value);
};

// Takes the pass-through record of an IOCTL_SCSI_PASS_THROUGH_DIRECT request from its in and out
// buffers and checks it as a port driver would: the record's length, a CDB length of 1..16, a known
// direction, a data buffer for any data, and a sense area that lies inside the out buffer.
// ERROR_SUCCESS with *record filled, or ERROR_INVALID_PARAMETER.
DWORD TakePassThrough(LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                      SCSI_PASS_THROUGH_DIRECT* record);

// The backend every call goes to. Installing nullptr puts the host machine back.
void InstallBackend(Backend* backend);
Backend& CurrentBackend();
Backend& HostBackend();

// The console's locale as the C library would choose it for messages: LC_ALL, else LC_MESSAGES,
// else LANG ("" when none is set).
std::string ConsoleLocale();
// OEM code page of a locale: 932 for Japanese ("ja..."), else 437.
UINT LocaleCodePage(const std::string& locale);
// Charset a locale's terminal expects: the codeset it names ("ja_JP.eucJP" -> "eucJP"), else UTF-8.
std::string LocaleCharset(const std::string& locale);

// Code pages and text conversion (iconv).
// Charset name of a Windows code page for iconv ("CP932", "CP437", ...).
std::string CodePageCharset(UINT codePage);
// Converts text between two iconv charsets; bytes that cannot be converted become '?'.
std::string ConvertText(const std::string& text, const std::string& from, const std::string& to);
// Text of the console's code page (932 is Shift-JIS; others are taken as ASCII and left alone)
// in the given terminal charset.
std::string ConsoleToTerminal(const char* text, UINT codePage, const std::string& terminalCharset);

// The message box as a terminal dialog: prints the caption, the text and the buttons on `out` and
// reads one line per try from `in`. Yes/No takes y/yes or n/no (any case) and asks again on
// anything else; OK takes any line; OK/Cancel takes ok/o or cancel/c. End of input is a box that
// could not be shown: 0. `text` is already in the terminal's charset.
int TerminalMessageBox(const std::string& text, const char* caption, UINT flags, std::FILE* in,
                       std::FILE* out);

}  // namespace platform

#endif  // !_WIN32
