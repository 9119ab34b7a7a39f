#include "tests/rom_scenario.h"

#include <cstdio>

#include "sim/image_tools.h"
#include "tests/support.h"

namespace romtest {

RomScene::RomScene(int32_t modelCode)
    : model(modelCode), held(sim::RomSpecForModel(modelCode)), next(held), entry(held) {
  next.revision = "1.08";
  next.date = "2008/03/14";
  next.seed = 7;
}

sim::RomDrive& RomScene::AddDrive(sim::RomConfig config) {
  config.place = held.place;
  config.rom = sim::BuildRomImage(held);
  return rig.AddRom(std::move(config));
}

int RomScene::Run() {
  rig.WriteHex(Image(), kHexFile);
  rig.UseRomDefinition(entry, model, target, kHexFile, fwVer);
  return test::RunMain(m);
}

static uint32_t Be24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

std::string Describe(const sim::LogEntry& e) {
  const std::vector<uint8_t>& c = e.cdb;
  char text[64];
  switch (c.at(0)) {
    case 0x00:
      return "tur";
    case 0x03:
      return "sense";
    case 0x12:
      return "inquiry";
    case 0x1B:
      return "stop";
    case 0x3C:
      if ((c.at(1) & 0x1F) == 1 && c.at(2) == 0x80) {
        std::snprintf(text, sizeof text, "rom %06X+%X", Be24(&c.at(3)), Be24(&c.at(6)));
        return text;
      }
      std::snprintf(text, sizeof text, "read-buffer %u/%02X", c.at(1) & 0x1Fu, c.at(2));
      return text;
    case 0x3B:
      if ((c.at(1) & 0x1F) == 1 && c.at(2) == 0x30) return "enter";
      if ((c.at(1) & 0x1F) == 1 && c.at(2) == 0x42) return "flash";
      if ((c.at(1) & 0x1F) == 1 && c.at(2) == 0xFF) {
        std::snprintf(text, sizeof text, "block %06X+%X", Be24(&c.at(3)), Be24(&c.at(6)));
        return text;
      }
      std::snprintf(text, sizeof text, "write-buffer %u/%02X", c.at(1) & 0x1Fu, c.at(2));
      return text;
    default:
      std::snprintf(text, sizeof text, "op %02X", c.at(0));
      return text;
  }
}

std::vector<std::string> Trace(const sim::Machine& m, int slot) {
  std::vector<std::string> out;
  for (const sim::LogEntry& e : m.log)
    if (slot < 0 || e.slot == slot) out.push_back(Describe(e));
  return out;
}

std::vector<std::string> Only(const std::vector<std::string>& trace, const std::string& word) {
  std::vector<std::string> out;
  for (const std::string& s : trace)
    if (s.rfind(word, 0) == 0) out.push_back(s);
  return out;
}

std::vector<std::string> Countdown(const std::string& console) {
  static const std::string kLine = "\rRemaining time is ";
  std::vector<std::string> out;
  for (size_t at = console.find(kLine); at != std::string::npos; at = console.find(kLine, at + 1)) {
    size_t from = at + kLine.size();
    size_t end = console.find("sec", from);
    out.push_back(console.substr(from, end - from));
  }
  return out;
}

std::string PatchHex(const Bytes& block) {
  Bytes image(0x21000, 0xFF);
  std::copy(block.begin(), block.end(), image.begin() + 0x20000);
  // Only the records from the segment of 0x20000 on: the patch file holds nothing else.
  std::string text = sim::ToIntelHex(image);
  return text.substr(text.find(":020000022000"));
}

Bytes Flashed(const Bytes& image, const Bytes& rom) {
  Bytes out = image;
  std::copy(rom.begin() + sim::kRomOwnData, rom.begin() + sim::kRomOwnDataEnd,
            out.begin() + sim::kRomOwnData);
  return out;
}

}  // namespace romtest
