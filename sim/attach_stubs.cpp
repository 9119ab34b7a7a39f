// Placeholder bodies of the machine's attachments until they are written: the machine behaves as
// one without device paths, registry keys or ASPI layer.
#include "sim/machine.h"

namespace sim {

void Machine::ClockMoved() {}

HANDLE Machine::CreateFile(LPCSTR name, DWORD access, DWORD share, DWORD disposition) {
  return Backend::CreateFile(name, access, share, disposition);
}
BOOL Machine::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                              DWORD outBytes, LPDWORD returned) {
  return Backend::DeviceIoControl(device, code, in, inBytes, out, outBytes, returned);
}
LONG Machine::RegOpenKey(HKEY key, LPCSTR subKey, REGSAM access, PHKEY result) {
  return Backend::RegOpenKey(key, subKey, access, result);
}
LONG Machine::RegSubKeyCount(HKEY key, LPDWORD subKeys) {
  return Backend::RegSubKeyCount(key, subKeys);
}
LONG Machine::RegEnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameLen) {
  return Backend::RegEnumKey(key, index, name, nameLen);
}
LONG Machine::RegQueryValue(HKEY key, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD dataLen) {
  return Backend::RegQueryValue(key, name, type, data, dataLen);
}
LONG Machine::RegCloseKey(HKEY key) {
  return Backend::RegCloseKey(key);
}
HMODULE Machine::LoadLibrary(LPCSTR name) {
  return Backend::LoadLibrary(name);
}
FARPROC Machine::GetProcAddress(HMODULE module, LPCSTR name) {
  return Backend::GetProcAddress(module, name);
}
DWORD Machine::WaitForSingleObject(HANDLE object, DWORD ms) {
  return Backend::WaitForSingleObject(object, ms);
}

}  // namespace sim
