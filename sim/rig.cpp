#include "sim/rig.h"

#include <algorithm>
#include <cstring>

#include "common/global.h"
#include "driver/defdata.h"

namespace sim {

namespace {

std::vector<DefEntry> gEntries;
uint16_t gVersion = 0;

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(N, text.size()));
}

void FillDefinition() {
  gFwVer = gVersion;
  int k = 0;
  for (const DefEntry& e : gEntries) {
    if (k == kDefMax) break;
    Put(gFwFileA[k], e.fwFile);
    Put(gEnterKeyA[k], e.enterKey);
    Put(gVenderA[k], e.vendor);
    Put(gProductIdA[k], e.product);
    Put(gRevisionA[k], e.revision);
    gUpgTypeA[k] = e.upgType;
    Put(gRefCpuA[k], e.refCpu);
    Put(gFileTypeA[k], "BIN");
    gFwSizeA[k] = e.fwSize;
    gModelA[k] = e.model;
    gCautionA[k] = e.caution;
    gRelDateA[k] = e.relDate;
    gRwKeyA[k] = e.rwKey;
    Put(gOemStr[k], e.oemStr);
    ++k;
  }
  gOemStrCnt = static_cast<uint8_t>(k);
  gRefNum = k;
}

}  // namespace

void UseDefinition(const std::vector<DefEntry>& entries, uint16_t fwVer) {
  gEntries = entries;
  gVersion = fwVer;
  SetDefDataSource(&FillDefinition);
}

void UseBuiltInDefinition() {
  SetDefDataSource(nullptr);
  gEntries.clear();
}

RomImageSpec RomSpecForModel(int32_t model) {
  RomImageSpec layout;
  switch (model) {
    case 8:
      layout.place = RomPlace::At1010;
      break;
    case 9:
    case 11:
      layout.place = RomPlace::At1F000;
      layout.model = model == 9 ? kRomIdModelAText : kRomIdModelBText;
      layout.cpu = kRomIdCpuText;
      break;
    case 10:
      layout.place = RomPlace::At1C010;
      break;
    default:
      break;
  }
  return layout;
}

Rig::~Rig() {
  if (ownDefinition_) UseBuiltInDefinition();
}

void Rig::Windows98(const std::string& adapter) {
  m_.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  m_.version.dwMajorVersion = 4;
  m_.version.dwMinorVersion = 10;
  m_.version.dwBuildNumber = 2222;
  m_.adapters = {{adapter}};
  aspi_ = true;
}

Slot& Rig::Place(std::unique_ptr<Drive> drive) {
  if (aspi_) return m_.AddOnAdapter(std::move(drive), 0, nextTarget_++);
  return m_.AddAtLetter(std::move(drive), nextLetter_++);
}

RwDrive& Rig::AddRw(RwConfig config) {
  auto drive = std::make_unique<RwDrive>(std::move(config));
  RwDrive& d = *drive;
  Place(std::move(drive));
  return d;
}

RomDrive& Rig::AddRom(RomConfig config) {
  auto drive = std::make_unique<RomDrive>(std::move(config));
  RomDrive& d = *drive;
  Place(std::move(drive));
  return d;
}

std::vector<uint8_t> Rig::WriteRwImage(const RwImageSpec& layout, const std::string& name) {
  std::vector<uint8_t> image = BuildRwImage(layout);
  m_.WriteFile(name, image);
  return image;
}

void Rig::WriteHex(const std::vector<uint8_t>& image, const std::string& name) {
  std::string text = ToIntelHex(image);
  m_.WriteFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}

void Rig::UseRomDefinition(const RomImageSpec& rom, int32_t model, const std::string& revision,
                           const std::string& hexFile, uint16_t fwVer) {
  DefEntry e;
  e.fwFile = hexFile;
  e.enterKey = rom.model;
  e.vendor = "KESTREL ";
  e.product = "DVD-ROM QXD-516 ";
  e.revision = revision;
  e.upgType = 1;
  e.refCpu = rom.cpu.substr(0, 8);
  e.fwSize = static_cast<int32_t>(rom.size);
  e.model = model;
  e.oemStr.clear();
  UseDefinition({e}, fwVer);
  ownDefinition_ = true;
}

}  // namespace sim
