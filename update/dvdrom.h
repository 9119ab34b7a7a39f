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
