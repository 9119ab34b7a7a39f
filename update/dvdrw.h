// Recordable-drive update.
#pragma once

#include <cstddef>
#include <cstdint>

// Updates the recordable drive gDevId. 0 updated, 1 skipped, 7 declined by the user, -1 fatal,
// another value a failed command's result.
int ReFlshrw();

// --- Firmware image files -------------------------------------------------------------------

// Parts of a recordable drive's firmware, the argument of LoadBinToBuf.
enum : int {
  kPartKernel = 0,  // the resident update kernel: gFwFile with its eighth character made '0'
  kPartNormal = 1,  // the main firmware: gFwFile
};

// Header of an image (offsets from the start of the file). The header travels to the drive with
// the rest of the image.
constexpr uint32_t kImgProduct = 0x60;      // vendor (8) and product (16) as INQUIRY reports them
constexpr uint32_t kImgRevision = 0x90;     // "d.dd" and one more character
constexpr uint32_t kImgHwRevision = 0xB0;   // 8 characters; 4..7 are four hexadecimal digits
constexpr uint32_t kImgKernelModel = 0xD0;  // 8 characters, "KES_ADV "
constexpr uint32_t kImgNormalModel = 0xF0;  // 8 characters
constexpr uint32_t kImgPartLetter = 0x110;  // 'K' kernel part; 'N' or 'P' normal part
constexpr uint32_t kImgDate = 0x130;        // "Jul25 2008", or "08/07/25" in "Lumarca " images
constexpr uint32_t kImgKernelVer = 0x150;   // 4 characters, as INQUIRY reports them in kernel mode
constexpr uint32_t kImgHeaderLen = 0x154;   // no shorter file is an image
// The kernel part: the first 0x20000 bytes of its image, all of which are sent.
constexpr uint32_t kKernelPartLen = 0x20000;

// Loads one part's image file whole into pText and checks its header: 0 accepted, -1 refused.
// Sets gFileDate and gFwVer from the header, and for the normal part gFwSize (the file's size) and
// gFwRev. Shows message 69 (older than the selected entry allows), 39 (not a kernel image) or 40
// (not a normal image) itself; a file that cannot be read, or that is too short to be an image (a
// kernel image: shorter than the kernel part) or too large for pText, returns -1 without a message
// (the caller shows 11 or 72).
int LoadBinToBuf(int part);

// 0 when the image in pText carries the kernel model name "KES_ADV ", else -1.
int ChkFwFile();

// Reads a number written in hexadecimal at p, as the conversion "%0Nx" with N = `digits` does:
// leading blanks are skipped, then at most `digits` hexadecimal digits (either case) are taken.
// Never looks beyond the `len` bytes at p. 0 when no digit comes.
uint32_t ReadHexField(const uint8_t* p, size_t len, int digits);
// The BCD month (0x01..0x12) of an English month abbreviation ("Jan".."Dec") at text; 0 for none.
uint32_t MonthBcd(const uint8_t* text);
// The version "d.dd" at rev as BCD 0xMNN ("1.22" gives 0x0122).
uint16_t RevisionBcd(const uint8_t* rev);

// --- Drive information and the rules of an update -----------------------------------------

// Reads the drive information block into gRwInfo; sets gRwMode and gKernel (1 when no normal part
// runs). Returns the command's result.
int GetDrvInfRw();
// Identifies the drive (INQUIRY, drive information) and selects its update entry. Returns 0 or the
// failed command's result (after message 9 or 0).
int ChkDrvFirm();
// Mode 0: prints the current revision line and derives gVer, gFwDate, gKernel, gPatch, gKrnlUpg and
// gReqUpg; mode 1: prints the new revision line. Returns 0, a failed INQUIRY's result, or -1 after
// message 56 or 55.
int ShowInq(int mode);
// The compatibility rules against the normal-part image in pText (with full 0 only the hardware
// revision and the kernel model). 0 go on, 1 nothing to do, -1 refused, or a failed read's result.
// Sets gOemId for the drive once its kernel model is accepted.
int ChkCurFirm(int full);
// Stops the disc and refuses a drive with a disc loaded or in an unknown state: 0 or -1.
int ChkDiscInsertion();
// After the switch to the kernel: 0 when INQUIRY shows the kernel running, else -1.
int ChkKrnlMode();
// With the kernel image in pText: 1 when the drive already runs that kernel (message 10), 0 when
// not, -1 when INQUIRY fails.
int ChkKrnlVer();
