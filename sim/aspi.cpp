// The machine's ASPI layer: the library with its two entries, host adapter inquiry, execution of
// SCSI requests that complete on the virtual clock, and abort.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/machine.h"

namespace sim {

namespace {

constexpr BYTE kStatusInvalidCmd = 0x80;  // a request code the layer does not know
constexpr BYTE kStatusInvalidSrb = 0xE0;  // a request block it cannot carry out
constexpr BYTE kStatusOk = 0x01;          // entry 1: the layer is ready

}  // namespace

HMODULE Machine::LoadLibrary(LPCSTR name) {
  if (name == nullptr || strcasecmp(name, "WNASPI32.DLL") != 0) return Backend::LoadLibrary(name);
  if (!aspiInstalled) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return &aspiModule_;
}

FARPROC Machine::GetProcAddress(HMODULE module, LPCSTR name) {
  if (module != &aspiModule_ || name == nullptr) return Backend::GetProcAddress(module, name);
  if (std::strcmp(name, ASPI_ENTRY_SUPPORT_INFO) == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&AspiSupportEntry));
  if (std::strcmp(name, ASPI_ENTRY_SEND_COMMAND) == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&AspiSendEntry));
  SetLastError(ERROR_INVALID_FUNCTION);
  return nullptr;
}

DWORD Machine::AspiSupportEntry() {
  Machine* m = Current();
  if (m == nullptr) return static_cast<DWORD>(SS_FAILED_INIT) << 8;
  DWORD count = static_cast<DWORD>(std::min<size_t>(m->adapters.size(), 255));
  DWORD status = m->aspiInitFails ? SS_FAILED_INIT : kStatusOk;
  return status << 8 | count;
}

DWORD Machine::AspiSendEntry(void* srb) {
  Machine* m = Current();
  if (m == nullptr || srb == nullptr) return SS_ERR;
  return m->AspiSend(srb);
}

DWORD Machine::AspiSend(void* block) {
  BYTE cmd = static_cast<BYTE*>(block)[0];
  switch (cmd) {
    case SC_HA_INQUIRY: {
      auto& inq = *static_cast<SRB_HAInquiry*>(block);
      if (inq.SRB_HaId >= adapters.size()) return inq.SRB_Status = SS_INVALID_HA;
      inq.HA_Count = static_cast<BYTE>(std::min<size_t>(adapters.size(), 255));
      inq.HA_SCSI_ID = 7;
      std::memset(inq.HA_ManagerId, ' ', sizeof inq.HA_ManagerId);
      std::memcpy(inq.HA_ManagerId, "SIMULATED ASPI", 14);
      std::memset(inq.HA_Identifier, 0, sizeof inq.HA_Identifier);
      const std::string& id = adapters[inq.SRB_HaId].identifier;
      std::memcpy(inq.HA_Identifier, id.data(), std::min(id.size(), sizeof inq.HA_Identifier));
      return inq.SRB_Status = SS_COMP;
    }
    case SC_EXEC_SCSI_CMD:
      return AspiExec(*static_cast<SRB_ExecSCSICmd*>(block));
    case SC_ABORT_SRB: {
      auto& abort = *static_cast<SRB_Abort*>(block);
      for (auto it = aspiPending_.begin(); it != aspiPending_.end(); ++it) {
        if (it->srb != abort.SRB_ToAbort) continue;
        it->srb->SRB_Status = SS_ABORTED;
        aspiPending_.erase(it);
        ++aspiAborts;
        break;
      }
      return abort.SRB_Status = SS_COMP;
    }
    default:
      return static_cast<BYTE*>(block)[1] = kStatusInvalidCmd;
  }
}

DWORD Machine::AspiExec(SRB_ExecSCSICmd& srb) {
  if (!aspiPending_.empty()) ++aspiOverlaps;
  HANDLE event = (srb.SRB_Flags & SRB_EVENT_NOTIFY) != 0 ? srb.SRB_PostProc : nullptr;

  // Requests the layer refuses at once still complete, with their event signalled.
  auto refuse = [&](BYTE status) -> DWORD {
    srb.SRB_Status = status;
    if (event != nullptr) SetEvent(event);
    return status;
  };
  if (srb.SRB_HaId >= adapters.size()) return refuse(SS_INVALID_HA);
  if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > sizeof srb.CDBByte ||
      (srb.SRB_BufLen != 0 && srb.SRB_BufPointer == nullptr))
    return refuse(kStatusInvalidSrb);
  int slot = -1;
  for (size_t i = 0; i < slots.size(); ++i)
    if (slots[i].ha == srb.SRB_HaId && slots[i].target == srb.SRB_Target && srb.SRB_Lun == 0)
      slot = static_cast<int>(i);
  if (slot < 0) return refuse(SS_NO_DEVICE);

  Command cmd;
  cmd.cdb = srb.CDBByte;
  cmd.cdbLen = srb.SRB_CDBLen;
  switch (srb.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT)) {
    case SRB_DIR_IN:
      cmd.dir = Dir::In;
      break;
    case SRB_DIR_OUT:
      cmd.dir = Dir::Out;
      break;
    default:
      cmd.dir = Dir::None;
  }
  if (srb.SRB_BufLen == 0) cmd.dir = Dir::None;
  cmd.data = srb.SRB_BufPointer;
  cmd.length = cmd.dir == Dir::None ? 0 : srb.SRB_BufLen;
  char where[24];
  std::snprintf(where, sizeof where, "ha%u:t%u", srb.SRB_HaId, srb.SRB_Target);
  // The layer has no time-out of its own: how long to wait is the program's business.
  Result result = Dispatch(slot, cmd, 0, where);

  AspiRequest request;
  request.srb = &srb;
  request.event = event;
  request.start = now;
  request.latency = result.latencyMs;
  request.never = result.noResponse;
  request.status = result.status;
  if (result.status != kGood) AutoSense(slot, result, request.sense);
  srb.SRB_Status = SS_PENDING;
  aspiPending_.push_back(request);
  return SS_PENDING;
}

void Machine::AspiComplete(const AspiRequest& r) {
  SRB_ExecSCSICmd& srb = *r.srb;
  srb.SRB_HaStat = 0;
  srb.SRB_TargStat = r.status;
  if (r.status == kGood) {
    srb.SRB_Status = SS_COMP;
  } else {
    size_t n = std::min<size_t>(srb.SRB_SenseLen, sizeof r.sense);
    std::memcpy(srb.SenseArea, r.sense, n);
    srb.SRB_Status = SS_ERR;
  }
  if (r.event != nullptr) SetEvent(r.event);
}

void Machine::ClockMoved() {
  // Completion may be signalled to code that submits again; take the due ones out first.
  std::vector<AspiRequest> due;
  for (auto it = aspiPending_.begin(); it != aspiPending_.end();) {
    if (!it->never && static_cast<DWORD>(now - it->start) >= it->latency) {
      due.push_back(*it);
      it = aspiPending_.erase(it);
    } else {
      ++it;
    }
  }
  for (const AspiRequest& r : due)
    AspiComplete(r);
}

DWORD Machine::WaitForSingleObject(HANDLE object, DWORD ms) {
  auto* event = object != nullptr && object != INVALID_HANDLE_VALUE
                    ? dynamic_cast<platform::EventObject*>(static_cast<platform::Object*>(object))
                    : nullptr;
  if (event == nullptr || event->signalled) return Backend::WaitForSingleObject(object, ms);

  // The earliest request that will signal this event decides how far the clock jumps.
  bool due = false;
  DWORD wait = 0;
  for (const AspiRequest& r : aspiPending_) {
    if (r.event != object || r.never) continue;
    DWORD left = r.latency - static_cast<DWORD>(now - r.start);
    if (!due || left < wait) wait = left;
    due = true;
  }
  if (due && (ms == INFINITE || wait <= ms)) {
    SleepMs(wait);
    return Backend::WaitForSingleObject(object, 0);
  }
  if (ms == INFINITE) {  // nothing will ever signal it: fail rather than hang
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return Backend::WaitForSingleObject(object, ms);
}

void Machine::Free(void* block) {
  for (auto it = aspiPending_.begin(); it != aspiPending_.end();) {
    if (static_cast<void*>(it->srb) == block) {
      ++aspiFreedPending;
      it = aspiPending_.erase(it);
    } else {
      ++it;
    }
  }
  Backend::Free(block);
}

BOOL Machine::CloseHandle(HANDLE object) {
  for (AspiRequest& r : aspiPending_) {
    if (object != nullptr && r.event == object) {
      ++aspiClosedPending;
      r.event = nullptr;
    }
  }
  return Backend::CloseHandle(object);
}

}  // namespace sim
