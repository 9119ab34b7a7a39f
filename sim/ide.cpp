#include "sim/ide.h"

#include <algorithm>
#include <cstring>

#include "sim/scsi.h"

namespace sim {

namespace {

constexpr uint16_t kBase[2] = {0x1F0, 0x170};
constexpr uint16_t kControl[2] = {0x3F6, 0x376};
constexpr int kRegAltStatus = 8;  // pseudo offset of the control port
constexpr uint8_t kSrst = 0x04;   // device control: software reset
constexpr uint8_t kIdle = kAtaDrdy | kAtaDsc;

}  // namespace

IdeChannels::IdeChannels(Machine& machine) : machine_(machine) {}

IdeChannels& Ide(Machine& machine) {
  if (!machine.ide) machine.ide = std::make_shared<IdeChannels>(machine);
  return *machine.ide;
}

BYTE Machine::PortIn8(WORD port) {
  return Ide(*this).In8(port);
}
void Machine::PortOut8(WORD port, BYTE value) {
  Ide(*this).Out8(port, value);
}
WORD Machine::PortIn16(WORD port) {
  return Ide(*this).In16(port);
}
void Machine::PortOut16(WORD port, WORD value) {
  Ide(*this).Out16(port, value);
}

void IdeChannels::Tick() {
  pendingNs_ += accessNs;
  while (pendingNs_ >= 1000000) {
    machine_.Advance(1);
    pendingNs_ -= 1000000;
  }
}

bool IdeChannels::Decode(uint16_t port, int* channel, int* reg) const {
  for (int ch = 0; ch < 2; ++ch) {
    if (port >= kBase[ch] && port <= kBase[ch] + 7) {
      *channel = ch;
      *reg = port - kBase[ch];
      return true;
    }
    if (port == kControl[ch]) {
      *channel = ch;
      *reg = kRegAltStatus;
      return true;
    }
  }
  return false;
}

int IdeChannels::SlotOf(int channel, int unit) const {
  const int id = channel * 2 + unit;
  for (size_t i = 0; i < machine_.slots.size(); ++i)
    if (machine_.slots[i].ideId == id && machine_.slots[i].present) return static_cast<int>(i);
  return -1;
}

// A busy device whose time has come finishes its command: data to offer, or completion.
void IdeChannels::Settle(Device& d) {
  if (d.phase != Phase::Busy || d.hung) return;
  if (static_cast<int32_t>(machine_.now - d.readyAt) < 0) return;
  if (d.result.status == kGood && d.dataIn && d.result.transferred > 0) {
    d.data.resize(std::min<size_t>(d.data.size(), d.result.transferred));
    d.at = 0;
    NextBurst(d);
  } else {
    Finish(d);
  }
}

void IdeChannels::Reset(Device& d) {
  d = Device{};
}

void IdeChannels::NextBurst(Device& d) {
  const size_t limit = d.limit == 0 ? 0xFFFE : d.limit;
  const size_t remaining = d.data.size() - d.at;
  // Only the last burst may be odd.
  const size_t n = remaining <= limit ? remaining : std::max<size_t>(2, limit & ~size_t{1});
  d.burstEnd = d.at + n;
  d.byteCount = static_cast<uint16_t>(n);
  d.status = kIdle | kAtaDrq;
  d.reason = d.dataIn ? kIrrIo : 0;
  d.phase = d.dataIn ? Phase::DataIn : Phase::DataOut;
}

void IdeChannels::Finish(Device& d) {
  const bool failed = d.result.status != kGood;
  d.phase = Phase::Idle;
  d.status = kIdle | (failed ? kAtaErr : 0);
  d.error = failed ? static_cast<uint8_t>(d.result.sense.key << 4 | kAtaAbrt) : 0;
  d.reason = kIrrCoD | kIrrIo;
  d.byteCount = 0;
  d.data.clear();
  d.at = d.burstEnd = 0;
}

void IdeChannels::Command(Channel& c, uint8_t command) {
  Device& d = c.unit[Selected(c)];
  Settle(d);
  if (command == kAtaDeviceReset) {
    Reset(d);
    return;
  }
  if (d.phase != Phase::Idle) return;  // a device at work ignores new commands
  if (command != kAtaPacket) {
    d.status = kIdle | kAtaErr;
    d.error = kAtaAbrt;
    d.reason = kIrrCoD | kIrrIo;
    return;
  }
  d.limit = static_cast<uint16_t>(c.countHigh << 8 | c.countLow);
  d.packetAt = 0;
  d.phase = Phase::Packet;
  d.status = kIdle | kAtaDrq;
  d.error = 0;
  d.reason = kIrrCoD;
}

// The 12 command bytes are in: collect the host's data first, or run the command now.
void IdeChannels::StartPacket(Device& d, int channel, int unit) {
  const Transfer t = CdbTransfer(d.packet);
  d.data.assign(t.length, 0);
  d.at = 0;
  d.dataIn = t.dir == Dir::In && t.length > 0;
  if (t.dir == Dir::Out && t.length > 0) {
    NextBurst(d);
    return;
  }
  Run(d, channel, unit, d.dataIn ? Dir::In : Dir::None);
}

void IdeChannels::Run(Device& d, int channel, int unit, Dir dir) {
  const int slot = SlotOf(channel, unit);
  const bool senseWanted = d.packet[0] == kOpRequestSense && d.faultSense;
  d.faultSense = false;
  sim::Command command;
  command.cdb = d.packet;
  command.cdbLen = 12;
  command.dir = dir;
  command.data = d.data.empty() ? nullptr : d.data.data();
  command.length = static_cast<uint32_t>(d.data.size());
  d.result = Result{};
  if (slot < 0) {
    d.result.noResponse = true;
  } else {
    d.result = machine_.Dispatch(slot, command, 0, "ide" + std::to_string(channel * 2 + unit));
  }
  // A check condition that an injected fault made never reached the drive, so the drive cannot
  // report its sense; the channel stands in for it at the next REQUEST SENSE.
  if (senseWanted && d.result.status == kGood && !d.result.noResponse) {
    uint8_t sense[18];
    FillSense(sense, d.sense);
    std::memcpy(d.data.data(), sense, std::min<size_t>({18, d.result.transferred, d.data.size()}));
  }
  if (slot >= 0 && d.result.status == kCheckCondition && !machine_.log.empty() &&
      machine_.log.back().faulted) {
    d.faultSense = true;
    d.sense = d.result.sense;
  }
  d.phase = Phase::Busy;
  d.status = kAtaBsy;
  d.hung = d.result.noResponse;
  d.readyAt = machine_.now + d.result.latencyMs;
  Settle(d);
}

uint16_t IdeChannels::ReadData(Device& d) {
  if (d.phase != Phase::DataIn) return 0;
  uint16_t word = d.data[d.at];
  if (d.at + 1 < d.burstEnd) word |= static_cast<uint16_t>(d.data[d.at + 1] << 8);
  d.at = std::min(d.at + 2, d.burstEnd);
  if (d.at < d.burstEnd) return word;
  if (d.at < d.data.size())
    NextBurst(d);
  else
    Finish(d);
  return word;
}

void IdeChannels::WriteData(Device& d, int channel, int unit, uint16_t word) {
  if (d.phase == Phase::Packet) {
    d.packet[d.packetAt++] = static_cast<uint8_t>(word);
    d.packet[d.packetAt++] = static_cast<uint8_t>(word >> 8);
    if (d.packetAt == sizeof d.packet) StartPacket(d, channel, unit);
    return;
  }
  if (d.phase != Phase::DataOut) return;
  d.data[d.at] = static_cast<uint8_t>(word);
  if (d.at + 1 < d.burstEnd) d.data[d.at + 1] = static_cast<uint8_t>(word >> 8);
  d.at = std::min(d.at + 2, d.burstEnd);
  if (d.at < d.burstEnd) return;
  if (d.at < d.data.size())
    NextBurst(d);
  else
    Run(d, channel, unit, Dir::Out);
}

uint8_t IdeChannels::In8(uint16_t port) {
  Tick();
  int ch = 0, reg = 0;
  if (!Decode(port, &ch, &reg)) return machine_.Backend::PortIn8(port);
  Channel& c = channels_[ch];
  const int unit = Selected(c);
  if (SlotOf(ch, unit) < 0) return 0xFF;  // nobody drives the bus
  Device& d = c.unit[unit];
  Settle(d);
  switch (reg) {
    case 0:
      return static_cast<uint8_t>(ReadData(d));
    case 1:
      return d.error;
    case 2:
      return d.reason;
    case 3:
      return c.sectorNumber;
    case 4:
      return static_cast<uint8_t>(d.byteCount);
    case 5:
      return static_cast<uint8_t>(d.byteCount >> 8);
    case 6:
      return c.device | 0xA0;
    default:  // status, alternate status
      return d.status;
  }
}

void IdeChannels::Out8(uint16_t port, uint8_t value) {
  Tick();
  int ch = 0, reg = 0;
  if (!Decode(port, &ch, &reg)) {
    machine_.Backend::PortOut8(port, value);
    return;
  }
  Channel& c = channels_[ch];
  switch (reg) {
    case 0:
      if (SlotOf(ch, Selected(c)) >= 0) WriteData(c.unit[Selected(c)], ch, Selected(c), value);
      break;
    case 1:
      c.features = value;
      break;
    case 2:
      c.sectorCount = value;
      break;
    case 3:
      c.sectorNumber = value;
      break;
    case 4:
    case 5:
      (reg == 4 ? c.countLow : c.countHigh) = value;
      // Task file writes reach both devices; one at work keeps its own count.
      for (Device& d : c.unit)
        if (d.phase == Phase::Idle)
          d.byteCount = static_cast<uint16_t>(c.countHigh << 8 | c.countLow);
      break;
    case 6:
      c.device = value;
      break;
    case 7:
      if (SlotOf(ch, Selected(c)) >= 0) Command(c, value);
      break;
    default:  // device control
      if (value & kSrst)
        for (Device& d : c.unit)
          Reset(d);
      break;
  }
}

uint16_t IdeChannels::In16(uint16_t port) {
  int ch = 0, reg = 0;
  if (!Decode(port, &ch, &reg)) {
    Tick();
    return machine_.Backend::PortIn16(port);
  }
  if (reg != 0) return static_cast<uint16_t>(0xFF00 | In8(port));
  Tick();
  Channel& c = channels_[ch];
  const int unit = Selected(c);
  if (SlotOf(ch, unit) < 0) return 0xFFFF;
  Device& d = c.unit[unit];
  Settle(d);
  return ReadData(d);
}

void IdeChannels::Out16(uint16_t port, uint16_t value) {
  int ch = 0, reg = 0;
  if (!Decode(port, &ch, &reg)) {
    Tick();
    machine_.Backend::PortOut16(port, value);
    return;
  }
  if (reg != 0) {
    Out8(port, static_cast<uint8_t>(value));
    return;
  }
  Tick();
  Channel& c = channels_[ch];
  const int unit = Selected(c);
  if (SlotOf(ch, unit) >= 0) WriteData(c.unit[unit], ch, unit, value);
}

}  // namespace sim
