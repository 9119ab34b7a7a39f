#include "ui/message.h"

#include <array>
#include <cstdarg>
#include <cstdio>

#include "common/bytes.h"
#include "common/global.h"
#include "platform/win32.h"

const char kBoxCaption[] = "REFLSH";
const char kUnknownMsg[] = "\r\nUnknow Message Code\r\n";

static std::string VFormat(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, args);
  std::string out;
  if (n >= static_cast<int>(sizeof small)) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<size_t>(n));
  } else if (n > 0) {
    out.assign(small, static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

static std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = VFormat(format, args);
  va_end(args);
  return out;
}

void SetOutText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  gOutText = VFormat(format, args);
  va_end(args);
}

const char* MsgText(int id, bool japanese) {
  if (id < 0 || id >= kMsgCount) return nullptr;
  return japanese ? kMsgJa[id] : kMsgEn[id];
}

// The image header fields of message 82, before any image buffer exists.
static const uint8_t kNoImage[0x154] = {};

std::string FormatMsg(const char* format, int id) {
  const uint8_t* image = pText != nullptr ? pText : kNoImage;
  switch (id) {
    case 11:
      return Format(format, gFwFile);
    case 31:
      return Format(format, gDevn);
    case 32:
      return Format(format, gDevId, gFwRev, AsText(gInq + 8), AsText(gInq + 32));
    case 34:
      return Format(format, gDevId + 1);
    case 45:
    case 46:
      return Format(format, gFwRev);
    case 58:
      return Format(format, gComplete);
    case 82:  // drive: product identification, revision, date; then the same of the image
      return Format(format, AsText(gInq + 8), AsText(gInq + 32), AsText(gInq + 37),
                    AsText(image + 0x60), AsText(image + 0x90), AsText(image + 0x130));
    default:
      return Format(format);
  }
}

int ShowMsgId(int id, int style) {
  const char* format = MsgText(id, gOemCodePage == 932);
  std::string text = format != nullptr ? FormatMsg(format, id) : kUnknownMsg;
  switch (style) {
    case kMsgOkCancel:
    case kMsgYesNo:
      return ShowMsgBox(text.c_str(), style);
    case kMsgStop:
    case kMsgInfo:
    case kMsgWarn:
      PrintMsg(text);
      return ShowMsgBox(text.c_str(), style);
    default:
      PrintMsg(text);
      return 0;
  }
}

const char* LineText(int line) {
  if (line < 0 || line >= kLineCount) return "";
  return gOemCodePage == 932 ? kLinesJa[line] : kLinesEn[line];
}

void PrintMsg(const char* text) {
  ConsoleWrite(text);
}

void PrintMsg(const std::string& text) {
  ConsoleWrite(text.c_str());
}

int ShowMsgBox(const char* text, int style) {
  UINT flags;
  switch (style) {
    case kMsgOkCancel:
      flags = MB_OKCANCEL | MB_ICONQUESTION;
      break;
    case kMsgYesNo:
      flags = MB_YESNO | MB_ICONQUESTION;
      break;
    case kMsgStop:
      flags = MB_OK | MB_ICONSTOP;
      break;
    case kMsgInfo:
      flags = MB_OK | MB_ICONINFORMATION;
      break;
    case kMsgWarn:
      flags = MB_OK | MB_ICONEXCLAMATION;
      break;
    default:
      return 0;
  }
  return MessageBoxA(nullptr, text, kBoxCaption, flags);
}

// DOS texts that are not the English text with its line ends shortened.
static const char* DosOwnText(int id, bool& none) {
  none = (id >= 66 && id <= 70) || (id >= 74 && id <= 76);
  switch (id) {
    case 71:
      return "\nThe firmware of target drive is not correct F/W.\nThis F/W is not supported by "
             "this "
             "program.";
    case 80:
      return "\nFailed to load the external rom binary file.";
    case 81:
      return "\nFailed to update the external ROM.";
    case 82:
      return "\nDo you want to update the F/W\nFrom : %.24s %.5s\nTo : %.24s %.5s";
    case 83:
      return "\nThis program prohibits user from reflashing\nbetween the DVD-RAM write supported "
             "F/W and not supported F/W.";
    case 86:
      return "\nIf you write this F/W, then this drive revert to older version.\nDo you want to "
             "write this F/W ? (Y or N)";
    default:
      return nullptr;
  }
}

const char* MsgTextDos(int id) {
  static const std::array<std::string, kDosMsgCount> table = [] {
    std::array<std::string, kDosMsgCount> t;
    for (int id = 0; id < kDosMsgCount; ++id) {
      bool none = false;
      const char* own = DosOwnText(id, none);
      if (own != nullptr) {
        t[id] = own;
      } else if (!none && kMsgEn[id] != nullptr) {
        std::string s = kMsgEn[id];
        for (size_t at; (at = s.find("\r\n")) != std::string::npos;)
          s.erase(at, 1);
        t[id] = s;
      }
    }
    return t;
  }();
  if (id < 0 || id >= kDosMsgCount || table[id].empty()) return nullptr;
  return table[id].c_str();
}

int ShowMsgIdDos(int id, int) {
  const char* format = MsgTextDos(id);
  std::string text;
  if (format == nullptr) {
    text = kUnknownMsg;
  } else if (id == 82) {  // the DOS question shows no dates
    const uint8_t* image = pText != nullptr ? pText : kNoImage;
    text = Format(format, AsText(gInq + 8), AsText(gInq + 32), AsText(image + 0x60),
                  AsText(image + 0x90));
  } else {
    text = FormatMsg(format, id);
  }
  if (text.size() > 1023) text.resize(1023);  // the DOS program formats into 1024 bytes
  PrintMsg(text);
  return 0;
}
