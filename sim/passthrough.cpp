// The machine's drive letters: device paths, the storage I/O controls and the SCSI pass-through,
// checked the way the system's port driver checks them.
#include <cctype>
#include <cstddef>
#include <cstring>

#include "sim/machine.h"

namespace sim {

namespace {

// A handle on a drive's volume device.
struct DeviceObject : platform::Object {
  DeviceObject(int slot, DWORD access) : slot(slot), access(access) {}
  int slot;
  DWORD access;
};

DeviceObject* AsDevice(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  return dynamic_cast<DeviceObject*>(static_cast<platform::Object*>(h));
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

Dir DirOf(UCHAR dataIn) {
  if (dataIn == SCSI_IOCTL_DATA_IN) return Dir::In;
  if (dataIn == SCSI_IOCTL_DATA_OUT) return Dir::Out;
  return Dir::None;
}

}  // namespace

int Machine::SlotOfDevicePath(LPCSTR name, DWORD access) {
  // "\\.\X:" and nothing else.
  if (std::strlen(name) != 6 || name[5] != ':' ||
      !std::isalpha(static_cast<unsigned char>(name[4]))) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return -1;
  }
  char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[4])));
  for (size_t i = 0; i < slots.size(); ++i) {
    const Slot& s = slots[i];
    if (s.letter != letter || !s.present) continue;
    // Opening a volume for reading or writing needs administrator rights; with no access at all
    // (as for media change control) it does not.
    if (s.accessDenied && access != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return -1;
    }
    return static_cast<int>(i);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return -1;
}

HANDLE Machine::CreateFile(LPCSTR name, DWORD access, DWORD share, DWORD disposition) {
  if (name == nullptr || std::strncmp(name, "\\\\.\\", 4) != 0)
    return Backend::CreateFile(name, access, share, disposition);
  if (disposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  int slot = SlotOfDevicePath(name, access);
  if (slot < 0) return INVALID_HANDLE_VALUE;
  return new DeviceObject(slot, access);
}

BOOL Machine::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                              DWORD outBytes, LPDWORD returned) {
  *returned = 0;
  DeviceObject* dev = AsDevice(device);
  if (dev == nullptr) {
    bool isObject = device != nullptr && device != INVALID_HANDLE_VALUE;
    return Fail(isObject ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
  }
  if (static_cast<size_t>(dev->slot) >= slots.size() || !slots[dev->slot].present)
    return Fail(ERROR_DEVICE_NOT_CONNECTED);
  Slot& slot = slots[dev->slot];

  switch (code) {
    case IOCTL_SCSI_GET_CAPABILITIES: {
      if (out == nullptr || outBytes < sizeof(IO_SCSI_CAPABILITIES))
        return Fail(ERROR_INVALID_PARAMETER);
      IO_SCSI_CAPABILITIES caps;
      std::memset(&caps, 0, sizeof caps);
      caps.Length = sizeof caps;
      caps.MaximumTransferLength = 0x20000;
      caps.MaximumPhysicalPages = 33;
      std::memcpy(out, &caps, sizeof caps);
      *returned = sizeof caps;
      return TRUE;
    }
    case IOCTL_SCSI_GET_ADDRESS: {
      if (slot.ieee1394) return Fail(ERROR_NOT_SUPPORTED);
      if (out == nullptr || outBytes < sizeof(SCSI_ADDRESS)) return Fail(ERROR_INVALID_PARAMETER);
      // Two devices per port, as on IDE channels: port, target from the slot's position.
      SCSI_ADDRESS addr;
      std::memset(&addr, 0, sizeof addr);
      addr.Length = sizeof addr;
      addr.PortNumber = static_cast<UCHAR>(1 + dev->slot / 2);
      addr.TargetId = static_cast<UCHAR>(dev->slot % 2);
      std::memcpy(out, &addr, sizeof addr);
      *returned = sizeof addr;
      return TRUE;
    }
    case IOCTL_STORAGE_MCN_CONTROL:
      if (in == nullptr || inBytes < sizeof(PREVENT_MEDIA_REMOVAL))
        return Fail(ERROR_INVALID_PARAMETER);
      slot.mcn.push_back(static_cast<const PREVENT_MEDIA_REMOVAL*>(in)->PreventMediaRemoval);
      return TRUE;
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
      if (dev->access == 0) return Fail(ERROR_ACCESS_DENIED);
      return PassThrough(dev->slot, in, inBytes, out, outBytes, returned);
    default:
      return Fail(ERROR_INVALID_FUNCTION);
  }
}

BOOL Machine::PassThrough(int slotIndex, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                          LPDWORD returned) {
  constexpr DWORD kRecord = sizeof(SCSI_PASS_THROUGH_DIRECT);
  SCSI_PASS_THROUGH_DIRECT r;
  DWORD bad = platform::TakePassThrough(in, inBytes, out, outBytes, &r);
  if (bad != ERROR_SUCCESS) return Fail(bad);

  Command cmd;
  cmd.cdb = r.Cdb;
  cmd.cdbLen = r.CdbLength;
  cmd.dir = r.DataTransferLength == 0 ? Dir::None : DirOf(r.DataIn);
  cmd.data = static_cast<uint8_t*>(r.DataBuffer);
  cmd.length = cmd.dir == Dir::None ? 0 : r.DataTransferLength;
  uint32_t limit = r.TimeOutValue * 1000u;
  Slot& slot = slots.at(static_cast<size_t>(slotIndex));
  Result result = Dispatch(slotIndex, cmd, limit, std::string(1, slot.letter) + ":");

  if (!slot.present) return Fail(ERROR_DEVICE_NOT_CONNECTED);
  if (TimedOut(result, limit)) {
    Advance(limit);
    return Fail(ERROR_SEM_TIMEOUT);
  }
  Advance(result.latencyMs);

  r.ScsiStatus = result.status;
  r.DataTransferLength = result.transferred < cmd.length ? result.transferred : cmd.length;
  UCHAR senseBytes = 0;
  if (result.status != kGood) {
    uint8_t sense[18];
    AutoSense(slotIndex, result, sense);
    senseBytes = r.SenseInfoLength < sizeof sense ? r.SenseInfoLength : sizeof sense;
    std::memcpy(static_cast<uint8_t*>(out) + r.SenseInfoOffset, sense, senseBytes);
  }
  r.SenseInfoLength = senseBytes;
  std::memcpy(out, &r, sizeof r);
  DWORD end = r.SenseInfoOffset + senseBytes;
  *returned = senseBytes != 0 && end > kRecord ? end : kRecord;
  return TRUE;
}

void Machine::AutoSense(int slotIndex, const Result& result, uint8_t* sense18) {
  FillSense(sense18, result.sense);
  // A fault decided the outcome without the drive: its sense is the fault's. Otherwise the drive
  // gives its own, and giving it clears it, as REQUEST SENSE would.
  if (!log.empty() && log.back().faulted) return;
  uint8_t own[18] = {};
  slots.at(static_cast<size_t>(slotIndex)).drive->TakeSense(own);
  if ((own[0] & 0x7E) == 0x70) std::memcpy(sense18, own, sizeof own);
}

}  // namespace sim
