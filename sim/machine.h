// The simulated machine: the backend that tests and reflsh-sim install instead of the host.
//
// It captures the console, answers message boxes from a script (or from the terminal), reports a
// chosen console code page and Windows version, holds registry keys, and keeps a virtual clock that
// only sleeping and drive work advance. Its virtual drives (drive.h) sit behind drive letters
// (pass-through), ASPI host adapters and target ids, or an IDE channel; every command that reaches
// one passes through Dispatch, which applies injected faults and logs it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/aspi.h"
#include "platform/backend.h"
#include "sim/drive.h"

namespace sim {

// One message box the program showed, with the answer it got.
struct Box {
  std::string text;  // UTF-8
  std::string caption;
  UINT flags = 0;
  int answer = 0;
};

// Where one drive sits and how it is reached.
struct Slot {
  std::unique_ptr<Drive> drive;
  char letter = 0;            // pass-through: 'C'..'Z'; 0 when not behind a letter
  int ha = -1;                // ASPI: host adapter number, -1 when not on an adapter
  int target = -1;            // ASPI: target id
  int ideId = -1;             // IDE: device id 0..3 (primary master .. secondary slave), or -1
  bool ieee1394 = false;      // pass-through: the address query fails with error 50
  bool accessDenied = false;  // pass-through: opening it needs a privilege the user lacks
  bool present = true;        // false once the drive has vanished from the bus
  std::vector<int> mcn;       // pass-through: media change control flags it received, in order
};

// A fault injected into the commands that reach the drives.
struct Fault {
  enum class Kind {
    Check,    // the command ends with `status` and `sense`; the drive never sees it
    Timeout,  // the drive never answers it
    Vanish,   // the drive leaves the bus before the command (and stays away)
  };
  Kind kind = Kind::Check;
  int slot = -1;         // drive it applies to; -1: any
  std::vector<int> cdb;  // leading CDB bytes to match; -1 matches any byte
  int nth = 1;           // the n-th matching command is hit (1 = the first); 0: every one
  uint8_t status = kCheckCondition;
  Sense sense;
  int seen = 0;  // matching commands so far
};

// One command as it reached a drive.
struct LogEntry {
  int slot = -1;
  std::string where;         // "D:", "ha1:t0", "ide2", ...
  std::vector<uint8_t> cdb;  // cdbLen bytes
  Dir dir = Dir::None;
  uint32_t length = 0;     // transfer length asked for
  uint32_t timeoutMs = 0;  // limit the transport gave it; 0: none
  uint32_t time = 0;       // virtual time when it was sent
  uint8_t status = kGood;
  Sense sense;
  uint32_t transferred = 0;
  bool timedOut = false;      // the drive took longer than the limit, or never answered
  bool faulted = false;       // an injected fault decided the outcome
  std::vector<uint8_t> data;  // the data sent to the drive (Dir::Out), when keepData is set
};

// An ASPI host adapter.
struct Adapter {
  std::string identifier;  // HA_Identifier, up to 16 bytes ("ESDI_506", "intelata", ...)
};

// One registry key: values by name; subkeys are the keys whose path extends this one.
struct RegKeyData {
  std::map<std::string, std::vector<uint8_t>> values;
};

class Machine : public platform::Backend {
 public:
  Machine();
  ~Machine() override;
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Makes this machine the one every Win32 call reaches, until Uninstall or destruction.
  void Install();
  void Uninstall();

  // --- Console and user -------------------------------------------------------------------
  // Everything the program wrote, converted to UTF-8. With echo set it is also written to the
  // real standard output as it comes.
  std::string console;
  bool echo = false;
  UINT codePage = 437;
  // Scripted answers, taken one per box. With none left a box cannot be shown (answer 0),
  // unless interactive is set: then the user at the terminal answers.
  std::deque<int> answers;
  bool interactive = false;
  std::vector<Box> boxes;

  // --- Clock ------------------------------------------------------------------------------
  DWORD now = 0;       // virtual milliseconds
  uint64_t slept = 0;  // sum of the program's sleeps (its waiting, as opposed to drive work)
  // Real milliseconds that one virtual millisecond takes, so that a person can watch a run
  // (reflsh-sim); 0, for tests: virtual time costs no real time.
  double pace = 0;
  // Advances the clock by work of the machine (a drive's latency), not by a sleep.
  void Advance(DWORD ms);

  // --- Windows ------------------------------------------------------------------------------
  OSVERSIONINFOA version{};  // what GetVersionExA reports; Windows XP (NT 5.1) by default
  int failAlloc = 0;         // the n-th allocation from now fails (1 = the next); 0: none
  std::map<std::string, RegKeyData> registry;  // key paths such as "HKLM\\SOFTWARE\\INTEL\\x"
  // Registry faults by key path: opening the key, or asking for its subkey count, fails with the
  // code given.
  std::map<std::string, LONG> regOpenFails;
  std::map<std::string, LONG> regInfoFails;

  // --- Drives and where they sit ----------------------------------------------------------
  std::vector<Slot> slots;
  std::vector<Adapter> adapters;  // ASPI host adapters, by number
  bool aspiInstalled = true;      // WNASPI32.DLL can be loaded (used on Windows 9x only)
  bool aspiInitFails = false;     // entry 1 reports status 0xE4
  // What the ASPI layer saw of the program's use of its request blocks.
  int aspiOverlaps = 0;       // requests submitted while another was still pending
  int aspiAborts = 0;         // pending requests ended by an abort
  int aspiFreedPending = 0;   // request blocks freed while still pending
  int aspiClosedPending = 0;  // events closed while their request was still pending
  std::vector<Fault> faults;
  std::vector<LogEntry> log;
  bool keepData = false;  // log the data of Dir::Out commands too

  // Adds a drive behind a drive letter / an ASPI adapter and target / an IDE device id.
  Slot& AddAtLetter(std::unique_ptr<Drive> drive, char letter);
  Slot& AddOnAdapter(std::unique_ptr<Drive> drive, int ha, int target);
  Slot& AddOnIde(std::unique_ptr<Drive> drive, int ideId);

  // Sends one command to the drive in `slot`: injected faults first, then the drive; logs it.
  // `timeoutMs` is the limit the transport set (0: none); it decides LogEntry::timedOut and
  // TimedOut(), while what to do about it (and how far the clock moves) is the caller's.
  Result Dispatch(int slot, const Command& command, uint32_t timeoutMs, const std::string& where);
  static bool TimedOut(const Result& result, uint32_t timeoutMs) {
    return result.noResponse || (timeoutMs != 0 && result.latencyMs > timeoutMs);
  }
  // Log entries whose CDB begins with these bytes.
  std::vector<const LogEntry*> Sent(std::initializer_list<int> cdbStart) const;

  // --- Firmware folder --------------------------------------------------------------------
  // A temporary folder that is the program's current directory while the machine is installed.
  const std::string& Folder();
  // Writes a file into the folder.
  void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes);

  // --- Backend --------------------------------------------------------------------------
  void ConsoleWrite(const char* text) override;
  int MessageBox(const char* text, const char* caption, UINT flags) override;
  UINT OemCodePage() override { return codePage; }
  DWORD NowMs() override { return now; }
  void SleepMs(DWORD ms) override;
  BOOL GetVersion(LPOSVERSIONINFOA info) override;
  void* Alloc(size_t bytes) override;
  void Free(void* block) override;
  BOOL CloseHandle(HANDLE object) override;

  HANDLE CreateFile(LPCSTR name, DWORD access, DWORD share, DWORD disposition) override;
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                       DWORD outBytes, LPDWORD returned) override;

  LONG RegOpenKey(HKEY key, LPCSTR subKey, REGSAM access, PHKEY result) override;
  LONG RegSubKeyCount(HKEY key, LPDWORD subKeys) override;
  LONG RegEnumKey(HKEY key, DWORD index, LPSTR name, LPDWORD nameLen) override;
  LONG RegQueryValue(HKEY key, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD dataLen) override;
  LONG RegCloseKey(HKEY key) override;

  HMODULE LoadLibrary(LPCSTR name) override;
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override;
  DWORD WaitForSingleObject(HANDLE object, DWORD ms) override;

  BYTE PortIn8(WORD port) override;
  void PortOut8(WORD port, BYTE value) override;
  WORD PortIn16(WORD port) override;
  void PortOut16(WORD port, WORD value) override;

  // --- IDE channels (ide.h) ---------------------------------------------------------------
  // Register state of the two IDE channels behind the ports, made on the first port access.
  std::shared_ptr<class IdeChannels> ide;

 private:
  // Called whenever the clock has moved: completes ASPI requests whose time has come.
  void ClockMoved();
  // Lets real time pass for `ms` virtual milliseconds, at `pace`.
  void Pace(DWORD ms) const;

  // Pass-through: the slot behind a device path such as \\.\D:, or -1 with the system error set.
  int SlotOfDevicePath(LPCSTR name, DWORD access);
  BOOL PassThrough(int slot, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                   LPDWORD returned);
  // The 18 sense bytes of a check condition, as the adapter's automatic REQUEST SENSE gets them.
  void AutoSense(int slot, const Result& result, uint8_t* sense18);

  // ASPI layer: the two entries, and the requests it is still working on.
  static DWORD __cdecl AspiSupportEntry();
  static DWORD __cdecl AspiSendEntry(void* srb);
  DWORD AspiSend(void* srb);
  DWORD AspiExec(SRB_ExecSCSICmd& srb);
  struct AspiRequest {
    SRB_ExecSCSICmd* srb = nullptr;
    HANDLE event = nullptr;  // nullptr: no notification (or the program closed it)
    DWORD start = 0;         // virtual time of submission
    DWORD latency = 0;
    bool never = false;  // the drive never completes it
    uint8_t status = 0;  // SCSI status when it completes
    uint8_t sense[18] = {};
  };
  void AspiComplete(const AspiRequest& request);
  std::vector<AspiRequest> aspiPending_;
  int aspiModule_ = 0;  // its address is the library's module handle

  // Registry: open keys by handle value, holding their full path ("HKLM\\...").
  std::map<uintptr_t, std::string> regKeys_;
  uintptr_t nextRegKey_ = 0x1000;
  bool RegPathOf(HKEY key, std::string& path) const;
  bool RegKeyExists(const std::string& path) const;
  std::vector<std::string> RegSubKeys(const std::string& path) const;
  const RegKeyData* RegFind(const std::string& path) const;

  bool installed_ = false;
  std::string folder_;
  std::string oldCwd_;
};

// The machine that is installed, for entries called without a context (the ASPI library's).
Machine* Current();

}  // namespace sim
