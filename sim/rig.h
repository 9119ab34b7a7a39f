// Ready-made set-ups of the simulated machine for whole runs of the program: drives where Windows
// would have them, firmware files beside the program, and update definitions other than the
// built-in one. Tests, benchmarks and reflsh-sim build their machines with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/image_tools.h"
#include "sim/machine.h"
#include "sim/rom_drive.h"
#include "sim/rw_drive.h"

namespace sim {

// One entry of an update definition. Text fields are copied at their slot width.
struct DefEntry {
  std::string fwFile = "A0414431.122";
  std::string enterKey;                      // model name of a read-only drive (16 bytes used)
  std::string vendor = "KESTREL ";           // 8
  std::string product = "DVD-RW  QXR-515L";  // 16
  std::string revision;                      // 4, read-only drives: "d.dd"
  int32_t upgType = 1;
  std::string refCpu;  // 8
  int32_t fwSize = 0x200000;
  int32_t model = 0x100D;
  int32_t caution = 0;
  uint32_t relDate = 0x20080725;
  uint32_t rwKey = 0x5B7E2D94;
  std::string oemStr = "KES_ADV ";  // 8
};

// Makes runs of the program use these entries (and this definition version) instead of the
// built-in definition, until UseBuiltInDefinition.
void UseDefinition(const std::vector<DefEntry>& entries, uint16_t fwVer = 0x122);
void UseBuiltInDefinition();

// A ROM of a QXD-516 with model code `model`, its identity where the program looks for it under
// that code: at 0x1000 (codes 0..7 and 12 and above), 0x1010 (8), 0x1C010 (10), or, with the plain
// values of the identity patterns, at 0x1F000 (9: model name A, 11: model name B).
RomImageSpec RomSpecForModel(int32_t model);

class Rig {
 public:
  explicit Rig(Machine& machine) : m_(machine) {}
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Windows 98: the ASPI layer with one host adapter, on which the drives added later sit.
  void Windows98(const std::string& adapter = "ESDI_506");
  // Adds a drive at the next drive letter from D (or, on Windows 98, the next target id).
  RwDrive& AddRw(RwConfig config = {});
  RomDrive& AddRom(RomConfig config = {});
  // Writes a recordable-drive image file (default: the normal part at revision 1.22, dated
  // 2008-07-25, 2 MiB) and returns its bytes.
  std::vector<uint8_t> WriteRwImage(const RwImageSpec& layout = {},
                                    const std::string& name = "A0414431.122");
  // Writes an image as an Intel HEX file.
  void WriteHex(const std::vector<uint8_t>& image, const std::string& name);
  // Gives runs the read-only definition of a QXD-516 (model code `model`) updated to `revision`
  // from `hexFile`, for a drive whose ROM identity is `rom`; `fwVer` is the definition's version.
  void UseRomDefinition(const RomImageSpec& rom, int32_t model, const std::string& revision,
                        const std::string& hexFile = "QXD516.HEX", uint16_t fwVer = 0x100);

 private:
  Slot& Place(std::unique_ptr<Drive> drive);

  Machine& m_;
  bool aspi_ = false;
  int nextTarget_ = 0;
  char nextLetter_ = 'D';
  bool ownDefinition_ = false;
};

}  // namespace sim
