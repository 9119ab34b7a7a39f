// Read-only-drive update.
#pragma once

#include <cstdint>

// Updates the read-only drive gDevId. 0 updated, 1 skipped, -1 fatal, another value a failed
// command's result.
int ReFlshrom();

// --- HEX firmware files -------------------------------------------------------------------

// The patch file some read-only drives need, and the one block of it that is used.
constexpr char kPatchFile[] = "G6PATCH.HEX";
constexpr uint32_t kPatchAt = 0x20000;
constexpr uint32_t kPatchLen = 0x1000;

// Loads the HEX file gFwFile into an image of gFwSize bytes: the records are placed in the scratch
// buffer pBuff, which starts filled with 0xFF, and on success pBuff[0..gFwSize) is copied to pText
// (bytes of pText beyond gFwSize keep their contents) and message 17 is shown. Reading stops at an
// end record, at the end of the file, or as soon as gFwSize data bytes have been loaded. 0 loaded,
// -1 failed with nothing copied: a line without the start character (message 16), a record that is
// not well-formed hexadecimal or that lies beyond pBuff, a file that cannot be read, or a gFwSize
// that does not fit the buffers. Record checksums are not verified.
int LoadHexToBuf();

// The same for "G6PATCH.HEX", copying only its patch block (kPatchAt, kPatchLen) to pText; shows
// message 19 on success.
int LoadPatchToBuf();

// --- Identification and update ------------------------------------------------------------

// Identity patterns of drives whose ROM carries no readable name (16 bytes each, scrambled).
extern const uint8_t gRomIdCpu[16];
extern const uint8_t gRomIdModelA[16];
extern const uint8_t gRomIdModelB[16];
extern const uint8_t gRomIdModelC[16];
// True when the 16 bytes at data are the identity that the scrambled pattern stands for.
bool RomIdIs(const uint8_t* data, const uint8_t* pattern);

// Identifies the drive (INQUIRY, ROM identity) and selects its update entry; sets gFwVer from the
// entry's revision. 0, a failed INQUIRY's result, or -1 when the drive cannot be identified.
int ChkDrvFirm2();
// Reads the ROM identity into gRomModel and gRomCpu: 0 found, -1 not (after printing the error).
int GetDrvInfRom();
// 0 when the loaded image can be transferred: larger than its last 4 KiB, which travel again at
// the end with 16 bytes more, and with room for those in pText; else -1.
int ChkFwFile2();
// The compatibility rules of drive, image and versions: 0 pass, 1 already up to date, -1 refused.
int ChkCurFirm2(int upgType);
// Reads `count` bytes of ROM into pBuff and compares them with pText: 0 equal, -1, -2 or -3 by
// the region that differs, or a failed read's result.
int RomVerify(uint32_t count);
// Enters the update mode and sends the image with its marker: 0, or -1 after the sense line.
int FwXfer();
// Lets the drive flash the transferred image, with a countdown: the update command's result.
int FwUpdate();
