// Locale, code pages and the terminal form of the message box, shared by the Linux backends.
#if !defined(_WIN32)

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/backend.h"

namespace platform {

std::string ConsoleLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "";
}

UINT LocaleCodePage(const std::string& locale) {
  return locale.compare(0, 2, "ja") == 0 ? 932 : 437;
}

std::string LocaleCharset(const std::string& locale) {
  size_t dot = locale.find('.');
  if (dot == std::string::npos) return "UTF-8";
  std::string codeset = locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
  return codeset.empty() ? "UTF-8" : codeset;
}

std::string CodePageCharset(UINT codePage) {
  return "CP" + std::to_string(codePage);
}

std::string ConvertText(const std::string& text, const std::string& from, const std::string& to) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  std::string out;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char chunk[256];
  while (inLeft > 0) {
    char* dst = chunk;
    size_t dstLeft = sizeof chunk;
    size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.append(chunk, static_cast<size_t>(dst - chunk));
    if (rc == static_cast<size_t>(-1) && errno != E2BIG) {  // invalid or incomplete sequence
      out.push_back('?');
      ++in;
      --inLeft;
    }
  }
  char* dst = chunk;
  size_t dstLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);  // flush any shift state
  out.append(chunk, static_cast<size_t>(dst - chunk));
  iconv_close(cd);
  return out;
}

std::string ConsoleToTerminal(const char* text, UINT codePage, const std::string& terminalCharset) {
  if (codePage != 932) return text;
  return ConvertText(text, CodePageCharset(codePage), terminalCharset);
}

static std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Reads one line without its end; false at end of input.
static bool ReadLine(std::FILE* in, std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(in)) != EOF && c != '\n')
    line.push_back(static_cast<char>(c));
  if (c == EOF && line.empty()) return false;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  while (!line.empty() && line.front() == ' ')
    line.erase(0, 1);
  return true;
}

static const char* IconWord(UINT flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONSTOP:
      return "Stop";
    case MB_ICONQUESTION:
      return "Question";
    case MB_ICONEXCLAMATION:
      return "Warning";
    case MB_ICONINFORMATION:
      return "Information";
    default:
      return nullptr;
  }
}

int TerminalMessageBox(const std::string& text, const char* caption, UINT flags, std::FILE* in,
                       std::FILE* out) {
  const UINT type = flags & MB_TYPEMASK;
  const char* prompt = type == MB_YESNO      ? "[Yes/No] "
                       : type == MB_OKCANCEL ? "[OK/Cancel] "
                                             : "[OK] ";
  const char* icon = IconWord(flags);
  std::fprintf(out, "\n+-- %s%s%s --\n", caption != nullptr ? caption : "",
               icon != nullptr ? " : " : "", icon != nullptr ? icon : "");
  // The text often starts with line breaks meant for the console; the box shows it without them.
  size_t start = text.find_first_not_of("\r\n");
  std::string body = start == std::string::npos ? "" : text.substr(start);
  body.erase(std::remove(body.begin(), body.end(), '\r'), body.end());
  std::fprintf(out, "%s\n", body.c_str());
  for (;;) {
    std::fputs(prompt, out);
    std::fflush(out);
    std::string line;
    if (!ReadLine(in, line)) {
      std::fputs("\n", out);
      std::fflush(out);
      return 0;
    }
    std::string word = Lower(line);
    if (type == MB_YESNO) {
      if (word == "y" || word == "yes") return IDYES;
      if (word == "n" || word == "no") return IDNO;
    } else if (type == MB_OKCANCEL) {
      if (word == "o" || word == "ok") return IDOK;
      if (word == "c" || word == "cancel") return IDCANCEL;
    } else {
      return IDOK;
    }
  }
}

}  // namespace platform

#endif  // !_WIN32
