// The two legacy IDE channels of the simulated machine, at register level, for the DOS front end's
// transport. Drives placed with Machine::AddOnIde (device id 0..3: primary master, primary slave,
// secondary master, secondary slave) answer ATAPI PACKET commands through the task file and 16-bit
// PIO; every command goes through Machine::Dispatch, so faults and the log apply.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {

// Status register bits.
constexpr uint8_t kAtaBsy = 0x80;   // busy: no other bit is valid
constexpr uint8_t kAtaDrdy = 0x40;  // device ready
constexpr uint8_t kAtaDsc = 0x10;   // seek complete
constexpr uint8_t kAtaDrq = 0x08;   // data (or packet) transfer requested
constexpr uint8_t kAtaErr = 0x01;   // the command ended with an error (CHECK CONDITION)
// Interrupt reason bits (read at base + 2).
constexpr uint8_t kIrrCoD = 0x01;  // command packet or completion, not data
constexpr uint8_t kIrrIo = 0x02;   // to the host
// Error register: sense key in bits 4..7, aborted command.
constexpr uint8_t kAtaAbrt = 0x04;
// ATA commands the devices take.
constexpr uint8_t kAtaPacket = 0xA0;
constexpr uint8_t kAtaDeviceReset = 0x08;

class IdeChannels {
 public:
  explicit IdeChannels(Machine& machine);

  uint8_t In8(uint16_t port);
  void Out8(uint16_t port, uint8_t value);
  uint16_t In16(uint16_t port);
  void Out16(uint16_t port, uint16_t value);

  // Virtual time one port access takes, in nanoseconds (an ISA bus cycle is about a microsecond).
  // It also lets a host that polls a register without sleeping see a drive finish.
  uint32_t accessNs = 1000;

 private:
  enum class Phase {
    Idle,     // no command; status and interrupt reason tell how the last one ended
    Packet,   // PACKET taken, waiting for the 12 command bytes
    DataOut,  // taking the host's data, one burst of byteCount bytes at a time
    Busy,     // the drive works on the command until `readyAt`
    DataIn,   // offering the drive's data, one burst of byteCount bytes at a time
  };
  struct Device {
    Phase phase = Phase::Idle;
    uint8_t status = kAtaDrdy | kAtaDsc;
    uint8_t error = 0;
    uint8_t reason = 0;
    uint16_t byteCount = 0xEB14;  // the ATAPI signature until a command sets it
    uint16_t limit = 0;           // the host's byte count when it issued the command
    uint8_t packet[12] = {};
    size_t packetAt = 0;
    std::vector<uint8_t> data;  // the whole transfer of the command
    size_t at = 0;              // next byte of `data` to move
    size_t burstEnd = 0;        // end of the burst in progress
    bool dataIn = false;        // after Busy: offer `data`
    bool hung = false;          // the drive never answers
    DWORD readyAt = 0;
    Result result;
    bool faultSense = false;  // an injected check condition whose sense REQUEST SENSE reports
    Sense sense;
  };
  struct Channel {
    uint8_t features = 0, sectorCount = 0, sectorNumber = 0, countLow = 0, countHigh = 0;
    uint8_t device = 0xA0;
    Device unit[2];
  };

  void Tick();
  // The channel and register offset of a port; false for ports of no channel.
  bool Decode(uint16_t port, int* channel, int* reg) const;
  int Selected(const Channel& c) const { return (c.device >> 4) & 1; }
  // The machine's slot of device id channel * 2 + unit, or -1 when no drive is there.
  int SlotOf(int channel, int unit) const;
  void Settle(Device& d);
  void Reset(Device& d);
  void Command(Channel& c, uint8_t command);
  void StartPacket(Device& d, int channel, int unit);
  void Run(Device& d, int channel, int unit, Dir dir);
  void NextBurst(Device& d);
  void Finish(Device& d);
  uint16_t ReadData(Device& d);
  void WriteData(Device& d, int channel, int unit, uint16_t word);

  Machine& machine_;
  Channel channels_[2];
  uint32_t pendingNs_ = 0;
};

// The machine's IDE channels, made on first use.
IdeChannels& Ide(Machine& machine);

}  // namespace sim
