// The Win32 subset of win32.h on Linux: each call goes to the installed backend.
#if !defined(_WIN32)

#include "platform/backend.h"

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;
platform::Backend* gBackend = nullptr;

platform::Backend& B() {
  return platform::CurrentBackend();
}

}  // namespace

namespace platform {

void InstallBackend(Backend* backend) {
  gBackend = backend;
}

Backend& CurrentBackend() {
  return gBackend != nullptr ? *gBackend : HostBackend();
}

}  // namespace platform

DWORD GetLastError() {
  return tLastError;
}
void SetLastError(DWORD code) {
  tLastError = code;
}

void ConsoleWrite(const char* text) {
  B().ConsoleWrite(text);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  return B().MessageBox(text, caption, type);
}

UINT GetOEMCP() {
  return B().OemCodePage();
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  return B().GetVersion(info);
}

// GlobalAlloc hands out fixed blocks: the handle is the block itself, so GlobalLock is the
// identity and GlobalFree releases it.
HGLOBAL GlobalAlloc(UINT, size_t bytes) {
  void* block = B().Alloc(bytes);
  if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

LPVOID GlobalLock(HGLOBAL mem) {
  return mem;
}

BOOL GlobalUnlock(HGLOBAL) {
  return FALSE;
}  // a fixed block has no lock count

HGLOBAL GlobalFree(HGLOBAL mem) {
  if (mem != nullptr) B().Free(mem);
  return nullptr;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
  return B().CreateFile(name, access, share, disposition);
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                     DWORD outBytes, LPDWORD returned, LPOVERLAPPED) {
  DWORD scratch = 0;
  return B().DeviceIoControl(device, code, in, inBytes, out, outBytes,
                             returned != nullptr ? returned : &scratch);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  return B().ReadFile(file, buffer, toRead, read);
}

DWORD GetFileSize(HANDLE file, LPDWORD high) {
  return B().GetFileSize(file, high);
}

BOOL CloseHandle(HANDLE object) {
  return B().CloseHandle(object);
}

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return B().RegOpenKey(key, subKey, access, result);
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR, LPDWORD, LPDWORD, LPDWORD subKeys, LPDWORD, LPDWORD, LPDWORD,
                      LPDWORD, LPDWORD, LPDWORD, PFILETIME) {
  DWORD scratch = 0;
  return B().RegSubKeyCount(key, subKeys != nullptr ? subKeys : &scratch);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLen, LPDWORD, LPSTR, LPDWORD,
                   PFILETIME) {
  return B().RegEnumKey(key, index, name, nameLen);
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataLen) {
  return B().RegQueryValue(key, name, type, data, dataLen);
}

LONG RegCloseKey(HKEY key) {
  return B().RegCloseKey(key);
}

HMODULE LoadLibraryA(LPCSTR name) {
  return B().LoadLibrary(name);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  return B().GetProcAddress(module, name);
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
  return B().CreateEvent(manualReset, initialState);
}

BOOL SetEvent(HANDLE event) {
  return B().SetEvent(event);
}
BOOL ResetEvent(HANDLE event) {
  return B().ResetEvent(event);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  return B().WaitForSingleObject(object, milliseconds);
}

void Sleep(DWORD milliseconds) {
  B().SleepMs(milliseconds);
}

DWORD timeGetTime() {
  return B().NowMs();
}
MMRESULT timeBeginPeriod(UINT period) {
  return B().TimerPeriod(period, true);
}
MMRESULT timeEndPeriod(UINT period) {
  return B().TimerPeriod(period, false);
}

#endif  // !_WIN32
