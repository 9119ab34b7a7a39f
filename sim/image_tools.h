// Firmware images for tests and the simulator: recordable-drive images with a chosen header,
// read-only-drive ROM images with a chosen identity, and Intel HEX text both ways.
//
// No real firmware is involved: every byte outside the fields asked for is a deterministic pattern
// of the seed, so two images built alike are equal and images with different seeds differ nearly
// everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// --- Recordable-drive images --------------------------------------------------------------------
// Header fields, as offsets from the start of an image. Each text field is blank-padded to the
// start of the next one.
constexpr size_t kHdrProduct = 0x60;         // vendor (8) then product (16), as INQUIRY shows them
constexpr size_t kHdrRevision = 0x90;        // "d.dd" and one more character
constexpr size_t kHdrHwRevision = 0xB0;      // 8 characters, the last four hexadecimal digits
constexpr size_t kHdrKernelModel = 0xD0;     // 8 characters
constexpr size_t kHdrNormalModel = 0xF0;     // 8 characters
constexpr size_t kHdrPart = 0x110;           // 'K' kernel part, 'N' or 'P' normal part
constexpr size_t kHdrDate = 0x130;           // short "yy/mm/dd" or long form (LongDateText)
constexpr size_t kHdrKernelVersion = 0x150;  // 4 characters, as the kernel reports its revision
constexpr size_t kHdrEnd = 0x160;

// Date texts of a BCD date 0xYYYYMMDD.
// "yy/mm/dd", the form "Lumarca " images carry and drives report in INQUIRY.
std::string ShortDateText(uint32_t bcd);
// "Mmmdd ccyy " (11 characters): the month abbreviation at 0..2, the day at 3, the century at 6 and
// the year at 8, so that the loader's reading of each position as "%02x" gives the BCD date back.
std::string LongDateText(uint32_t bcd);
// The loader's readings of a date text of `len` bytes (0 where the text holds nothing readable).
// Short form: year at 0, month at 3, day at 6, century 0x20.
uint32_t ShortDateValue(const uint8_t* text, size_t len);
// Long form: month from the abbreviation at 0..2 (0 when none matches), day at 3, century at 6,
// year at 8.
uint32_t LongDateValue(const uint8_t* text, size_t len);

struct RwImageSpec {
  size_t size = 0x200000;
  std::string vendor = "KESTREL ";
  std::string product = "DVD-RW  QXR-515L";
  std::string revision = "1.22 ";
  std::string hwRevision = "HW  0102";
  std::string kernelModel = "KES_ADV ";
  std::string normalModel = "KES_ADV ";
  char part = 'N';
  std::string date = LongDateText(0x20080725);
  std::string kernelVersion = "0000";
  uint32_t seed = 1;
};
// An image of layout.size bytes (at least the header) with the header fields of `layout`.
std::vector<uint8_t> BuildRwImage(const RwImageSpec& layout);

// --- Read-only-drive ROM images -----------------------------------------------------------------
// The four places where a read-only drive keeps its identity (the model name, 16 bytes, then the
// CPU name, 16 bytes). The first three hold a model name beginning "KESTREL "; the last holds one
// of the program's identity patterns.
enum class RomPlace { At1000, At1010, At1C010, At1F000 };
uint32_t RomIdentityAddress(RomPlace place);
// Offsets from the identity address.
constexpr uint32_t kRomModel = 0;
constexpr uint32_t kRomCpu = 16;
constexpr uint32_t kRomRevision = 32;  // 4 characters, the revision INQUIRY reports
constexpr uint32_t kRomDate = 36;      // 10 characters, the date text INQUIRY reports
constexpr uint32_t kRomDateLen = 10;
// Bytes the drive keeps as its own when it flashes a new ROM (serial number, calibration), and
// which a read-back may therefore differ in.
constexpr uint32_t kRomOwnData = 0x400;
constexpr uint32_t kRomOwnDataEnd = 0x450;

struct RomImageSpec {
  size_t size = 0x20000;
  RomPlace place = RomPlace::At1000;
  std::string model = "KESTREL QXD-516 ";  // 16 bytes, blank-padded
  // 16 bytes. An update entry names the CPU in 8 characters, and the image's CPU field is compared
  // with all 16 bytes of it, so the name is zero-padded.
  std::string cpu = std::string("KCP-7710", 8) + std::string(8, '\0');
  std::string revision = "1.05";
  std::string date = "2007/11/02";
  uint32_t seed = 2;
};
std::vector<uint8_t> BuildRomImage(const RomImageSpec& layout);

// --- Intel HEX
// ------------------------------------------------------------------------------------ The image as
// Intel HEX text: data records (type 00) of `perRecord` bytes that never cross a 64 KiB boundary,
// an extended segment address record (type 02) at each 64 KiB boundary, and an end-of-file record
// (type 01); lines end in CR LF. Segment addresses reach 1 MiB + 64 KiB, so larger images are
// refused (std::length_error).
std::string ToIntelHex(const std::vector<uint8_t>& image, size_t perRecord = 16);
// Reads Intel HEX text (types 00, 01, 02, 04) into an image of `size` bytes, 0xFF where no record
// supplies a byte. Nothing when a line is malformed, a checksum is wrong or data fall outside.
std::optional<std::vector<uint8_t>> FromIntelHex(const std::string& text, size_t size);

}  // namespace sim
