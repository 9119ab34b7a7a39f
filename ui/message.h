// Numbered messages, console output and message boxes.
#pragma once

#include <string>

// Presentation styles of ShowMsgId and ShowMsgBox.
enum : int {
  kMsgLine = 0,      // console line only
  kMsgOkCancel = 1,  // box with OK and Cancel, question icon; no console line
  kMsgYesNo = 2,     // question box with Yes and No; no console line
  kMsgStop = 16,     // console line, then an OK box with the stop icon
  kMsgInfo = 17,     // console line, then an OK box with the information icon
  kMsgWarn = 18,     // console line, then an OK box with the exclamation icon
};

constexpr int kMsgCount = 101;    // ids 0..100
constexpr int kDosMsgCount = 88;  // ids 0..87 of the DOS front end

// Caption of every box.
extern const char kBoxCaption[];
// Text of an id that has none.
extern const char kUnknownMsg[];

// The catalogues: format strings by id, nullptr where an id has no text. The Japanese texts are
// Shift-JIS (code page 932).
extern const char* const kMsgEn[kMsgCount];
extern const char* const kMsgJa[kMsgCount];

// Lines that are not numbered messages but are shown in the console's language.
enum : int {
  kLineComplete,    // the normal part is written (drives that reboot at once)
  kLineReflashing,  // the normal part is written and the drive re-flashes itself
  kLineCount,
};
extern const char* const kLinesEn[kLineCount];
extern const char* const kLinesJa[kLineCount];
// The text of a line in the console's language (gOemCodePage).
const char* LineText(int line);

// Shows message `id` in the console's language (gOemCodePage) by `style` and returns the answer
// of a box (IDOK, IDYES, IDNO, ...; 0 when it could not be shown) or 0 when there is no box.
int ShowMsgId(int id, int style);

// Writes text to the console unchanged: a '%' in it is not interpreted.
void PrintMsg(const char* text);
void PrintMsg(const std::string& text);

// Shows a box for styles 1, 2, 16, 17 and 18 and returns the button pressed; other styles show
// nothing and return 0.
int ShowMsgBox(const char* text, int style);

// Formats gOutText (a progress, revision or diagnostic line that is not a catalogue message).
void SetOutText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The format string of `id` in one language, or nullptr when the id has no text there.
const char* MsgText(int id, bool japanese);

// Formats a catalogue text with the arguments message `id` takes from the module variables.
std::string FormatMsg(const char* format, int id);

// The DOS front end's catalogue: English only, ids 0..87, "\n" line ends, a few texts of its own.
const char* MsgTextDos(int id);
// Its ShowMsgId: formats into 1024 bytes, prints whatever the style, never shows a box, returns 0.
int ShowMsgIdDos(int id, int style);
