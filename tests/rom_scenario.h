// Whole runs of the program over virtual read-only drives: a machine with QXD-516 drives, the new
// image as a HEX file beside the program and a definition naming it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/rig.h"

namespace romtest {

using Bytes = std::vector<uint8_t>;

constexpr char kHexFile[] = "QXD516.HEX";

// A run that updates QXD-516 drives of one model code from 1.05 to 1.08.
struct RomScene {
  explicit RomScene(int32_t modelCode = 5);

  sim::Machine m;
  sim::Rig rig{m};
  int32_t model;
  sim::RomImageSpec held;   // the ROM the drives hold: 1.05 of 2007-11-02
  sim::RomImageSpec next;   // the image in the HEX file: 1.08 of 2008-03-14
  sim::RomImageSpec entry;  // identity and size the definition names (model, CPU, size)
  std::string target = "1.08";
  uint16_t fwVer = 0x100;

  // Adds a drive holding `held` (config.rom and config.place are set from it).
  sim::RomDrive& AddDrive(sim::RomConfig config = {});
  Bytes Image() const { return sim::BuildRomImage(next); }
  // Writes the HEX file, installs the definition and runs the program: its exit code.
  int Run();
};

// One command as a drive saw it, in a few words: "inquiry", "stop", "read-buffer 2/F1" (mode and
// buffer id), "rom 01C000+40" (ROM read: address and length), "enter" (update mode),
// "block 018000+8000" (image block: offset and length), "flash" (self-update).
std::string Describe(const sim::LogEntry& e);
// The commands that reached the drive in `slot` (-1: every drive), described.
std::vector<std::string> Trace(const sim::Machine& m, int slot = -1);
// The entries of a trace that begin with `word`.
std::vector<std::string> Only(const std::vector<std::string>& trace, const std::string& word);

// The countdown lines of a console, their seconds only ("29", "00", "-1").
std::vector<std::string> Countdown(const std::string& console);

// The HEX text of a patch file whose block at 0x20000 is `block` (4 KiB).
std::string PatchHex(const Bytes& block);

// `image` with `rom`'s bytes where a drive keeps its own data: what a drive that flashed `image`
// over `rom` holds.
Bytes Flashed(const Bytes& image, const Bytes& rom);

}  // namespace romtest
