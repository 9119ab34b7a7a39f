// Transport start-up and shutdown: the path for this Windows version, the shared buffers, the
// Intel IDE driver, the ASPI layer with its host adapters, and the IEEE 1394 auto-insert check.
#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "common/global.h"
#include "platform/aspi.h"
#include "platform/win32.h"
#include "transport/cmdapi.h"
#include "transport/cmdint.h"
#include "ui/message.h"

namespace {

constexpr int kMsgIntelDriver = 48;
constexpr int kMsgIeee1394 = 52;

// Results of the ASPI start-up when nothing can be reached.
constexpr int kAspiNoLibrary = 1;
constexpr int kAspiInitFailed = 2;
constexpr int kAspiNoAdapter = 3;

// Windows versions that choose a path; any other leaves gIf as it is (0, pass-through).
struct VersionRule {
  DWORD platform;
  DWORD major;  // kAnyMajor: not looked at
  DWORD minor;
  int32_t path;
};
constexpr DWORD kAnyMajor = 0xFFFFFFFF;
constexpr VersionRule kVersionRules[] = {
    {VER_PLATFORM_WIN32_WINDOWS, kAnyMajor, 0, 1},   // Windows 95
    {VER_PLATFORM_WIN32_WINDOWS, kAnyMajor, 10, 1},  // Windows 98
    {VER_PLATFORM_WIN32_WINDOWS, kAnyMajor, 90, 1},  // Windows Me
    {VER_PLATFORM_WIN32_NT, 4, 0, 0},                // NT 4.0
    {VER_PLATFORM_WIN32_NT, 5, 0, 0},                // 2000
    {VER_PLATFORM_WIN32_NT, 5, 1, 0},                // XP
};

void ChoosePath() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return;
  if (info.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS &&
      info.dwPlatformId != VER_PLATFORM_WIN32_NT) {
    gIf = 0;
    return;
  }
  for (const VersionRule& rule : kVersionRules) {
    if (rule.platform == info.dwPlatformId &&
        (rule.major == kAnyMajor || rule.major == info.dwMajorVersion) &&
        rule.minor == info.dwMinorVersion) {
      gIf = rule.path;
      return;
    }
  }
}

// A zero-filled, locked block of `size` bytes. False (and nothing held) when there is no room.
bool AllocBuffer(uint32_t size, HGLOBAL& handle, void*& block) {
  handle = GlobalAlloc(GHND, size);
  if (handle == nullptr) return false;
  block = GlobalLock(handle);
  if (block == nullptr) {
    GlobalFree(handle);
    handle = nullptr;
    return false;
  }
  return true;
}

template <typename T>
bool AllocBuffer(uint32_t size, HGLOBAL& handle, T*& block) {
  void* p = nullptr;
  bool ok = AllocBuffer(size, handle, p);
  block = static_cast<T*>(p);
  return ok;
}

template <typename T>
void FreeBuffer(HGLOBAL& handle, T*& block) {
  if (handle != nullptr) {
    GlobalUnlock(handle);
    GlobalFree(handle);
  }
  handle = nullptr;
  block = nullptr;
}

// Shows message 48 when the Intel driver's key exists; true when it does.
bool IntelKeyPresent(const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  ShowMsgId(kMsgIntelDriver, kMsgLine);
  return true;
}

void PrintRegError(const char* format, LONG code) {
  SetOutText(format, static_cast<unsigned long>(static_cast<DWORD>(code)));
  PrintMsg(gOutText);
}

int StartPassThrough() {
  gTimeout = 1000;
  gIntel = 0;
  std::memset(&gScsiAddr, 0, sizeof gScsiAddr);
  // The accelerator's key is only announced; the storage driver's also changes how NOT READY is
  // judged.
  IntelKeyPresent("SOFTWARE\\INTEL\\Intel Application Accelerator");
  if (IntelKeyPresent("SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver")) gIntel = 1;

  if (!AllocBuffer(kBuffSize, hBuff, pBuff) || !AllocBuffer(kTextSizePt, hText, pText) ||
      !AllocBuffer(kParamSizePt, hParam, pParam))
    return -1;
  gTextSize = kTextSizePt;
  return 0;
}

// The library's entries as the program calls them. Function pointers are converted through the
// generic function pointer type, which keeps the compiler's cast check content.
template <typename Fn>
Fn Entry(HMODULE lib, const char* name) {
  FARPROC p = GetProcAddress(lib, name);
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
}

bool IsIeee1394Adapter(const uint8_t* id) {
  static const uint8_t kZeros[8] = {};
  return FieldIs(id, "NTMAPHLP") || FieldIs(id, "ntmaphlp") || FieldIs(id, "        ") ||
         SameBytes(id, kZeros, 8);
}

// Host adapter inquiry of every adapter into gHaTbl; judges the Intel and the IEEE 1394 adapters.
bool InquireAdapters() {
  HGLOBAL records = GlobalAlloc(GPTR, sizeof(SRB_HAInquiry) * gHaCnt);
  if (records == nullptr) return false;
  gHaInq = static_cast<SRB_HAInquiry*>(records);
  for (int i = 0; i < gHaCnt; ++i) {
    SRB_HAInquiry& inq = gHaInq[i];
    inq.SRB_Cmd = SC_HA_INQUIRY;
    inq.SRB_HaId = static_cast<BYTE>(i);
    gAspiSend(&inq);  // completes within the call
    std::memcpy(gHaTbl[i], inq.HA_Identifier, sizeof inq.HA_Identifier);
    if (FieldIs(gHaTbl[i], "intelata")) {
      if (gIntel == 0) ShowMsgId(kMsgIntelDriver, kMsgLine);
      gIntel = 1;
    } else if (IsIeee1394Adapter(gHaTbl[i])) {
      gIEEE = i;
      ShowMsgId(kMsgIeee1394, kMsgLine);
    }
  }
  return true;
}

int StartAspi() {
  gTimeout = 1000;
  gIntel = 0;
  gIEEE = -1;
  if (!AllocBuffer(kBuffSize, hBuff, pBuff) || !AllocBuffer(kSrbSize, hSrb, gSrb) ||
      !AllocBuffer(kTextSizeAspi, hText, pText) || !AllocBuffer(kParamSizeAspi, hParam, pParam))
    return -1;
  gTextSize = kTextSizeAspi;

  gAspiLib = LoadLibraryA("WNASPI32.DLL");
  if (gAspiLib == nullptr) return kAspiNoLibrary;
  gAspiSupport = Entry<AspiSupportInfoFn>(gAspiLib, ASPI_ENTRY_SUPPORT_INFO);
  gAspiSend = Entry<AspiSendCommandFn>(gAspiLib, ASPI_ENTRY_SEND_COMMAND);
  if (gAspiSupport == nullptr || gAspiSend == nullptr) {
    gAspiSend = nullptr;
    return kAspiNoLibrary;
  }

  DWORD info = gAspiSupport();
  if (((info >> 8) & 0xFF) == SS_FAILED_INIT) return kAspiInitFailed;
  int count = static_cast<int>(info & 0xFF);
  if (count == 0) return kAspiNoAdapter;
  // The adapter table has room for kHaMax adapters; any beyond are not used.
  gHaCnt = static_cast<uint8_t>(count < kHaMax ? count : kHaMax);
  if (!InquireAdapters()) {
    gHaCnt = 0;
    return -1;
  }
  if (gIEEE != -1) ChkAutoInsert();
  return 0;
}

}  // namespace

int ChkConfigManager(const char* instance) {
  HKEY root = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager\\Enum", 0, KEY_ALL_ACCESS, &root);
  if (rc != ERROR_SUCCESS) return -1;
  DWORD count = 0;
  rc = RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) {
    PrintRegError("\r\nRegQueryInfoKey Error : %08lxh", rc);
    RegCloseKey(root);
    return -1;
  }

  const size_t instanceLen = std::strlen(instance);
  int result = -1;
  for (DWORD index = count; index-- > 0;) {
    char name[256];
    DWORD nameLen = sizeof name;
    rc = RegEnumKeyExA(root, index, name, &nameLen, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;

    char path[300];
    std::snprintf(path, sizeof path, "Config Manager\\Enum\\%s", name);
    HKEY sub = nullptr;
    rc = RegOpenKeyExA(HKEY_DYN_DATA, path, 0, KEY_ALL_ACCESS, &sub);
    if (rc != ERROR_SUCCESS) {
      PrintRegError("\r\nRegOpenKeyEx Error (Config Mahager): %08lxh", rc);
      continue;
    }
    char value[1024] = {};
    DWORD valueLen = sizeof value - 1;
    rc = RegQueryValueExA(sub, "HardWareKey", nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                          &valueLen);
    RegCloseKey(sub);
    if (rc != ERROR_SUCCESS) {
      PrintRegError("\r\nRegQueryValueEx Error : %08lxh", rc);
      result = -1;
      break;
    }
    size_t len = valueLen < sizeof value ? valueLen : sizeof value - 1;
    value[len] = '\0';
    len = std::strlen(value);
    // The manager writes the SBP-2 instance with '\' where the SCSI enumerator has '&'; only
    // characters the value has are replaced.
    if (std::strncmp(value, "SBP2", 4) == 0) {
      if (len > 4) value[4] = '&';
      if (len > 24) value[24] = '&';
    }
    if (len > 0 && len <= instanceLen && std::memcmp(value, instance, len) == 0) {
      result = 0;
      break;
    }
  }
  RegCloseKey(root);
  return result;
}

LONG ChkAutoInsert() {
  char keyPath[] = "Enum\\SCSI\\KESTREL_DVD-RW__QXR-503_0";
  static_assert(sizeof keyPath == 36, "the adapter digit is the key path's last character");
  keyPath[34] = static_cast<char>('0' + gIEEE);

  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD count = 0;
  rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) {
    PrintRegError("\r\nRegQueryInfoKey Error : %08lxh", rc);
    RegCloseKey(key);
    return rc;
  }

  LONG result = ERROR_SUCCESS;
  for (DWORD index = count; index-- > 0;) {
    char name[256];
    DWORD nameLen = sizeof name;
    rc = RegEnumKeyExA(key, index, name, &nameLen, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || std::strncmp(name, "SBP2&BRIX&XQVA-DRW", 18) != 0) continue;

    char path[300];
    std::snprintf(path, sizeof path, "%.35s\\%s", keyPath, name);
    HKEY sub = nullptr;
    rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &sub);
    if (rc != ERROR_SUCCESS) {
      PrintRegError("\r\nRegOpenKeyEx Error : %08lxh", rc);
      result = rc;
      break;
    }
    if (ChkConfigManager(name) == 0) {
      BYTE on = 0;
      DWORD size = sizeof on;
      rc = RegQueryValueExA(sub, "AutoInsertNotification", nullptr, nullptr, &on, &size);
      if (rc != ERROR_SUCCESS) {
        PrintRegError("\r\nRegQueryValueEx Error : %08lxh", rc);
        RegCloseKey(sub);
        result = rc;
        break;
      }
      gAutoRun = static_cast<uint8_t>(gAutoRun + on);
    }
    RegCloseKey(sub);
  }
  RegCloseKey(key);
  return result;
}

int InitCmdApi() {
  gTimeout = 1000;
  ChoosePath();
  return gIf == 1 ? StartAspi() : StartPassThrough();
}

void EndCmdApi() {
  if (gIf == 1) {
    // A request still with the layer is aborted first: the layer would otherwise write into a
    // block that is no longer ours. If it cannot be taken back, the block is left to the layer.
    if (ReleaseSrb()) {
      FreeBuffer(hSrb, gSrb);
    } else {
      hSrb = nullptr;
      gSrb = nullptr;
    }
    gSrbBusy = 0;
    FreeBuffer(hBuff, pBuff);
    FreeBuffer(hText, pText);
    FreeBuffer(hParam, pParam);
    if (gHaInq != nullptr) GlobalFree(gHaInq);
    gHaInq = nullptr;
  } else {
    for (int m = 0; m < gMcnCnt; ++m) {
      EndMcnCtl(m);
      // Notifications are back on; the handle is of no further use.
      if (gMcnHandle[m] != nullptr) CloseHandle(gMcnHandle[m]);
      gMcnHandle[m] = nullptr;
    }
    gMcnCnt = 0;
    CloseDrive();
    FreeBuffer(hParam, pParam);
    FreeBuffer(hText, pText);
    FreeBuffer(hBuff, pBuff);
  }
  gTextSize = 0;
}
