// Private profile (INI) files. A bare file name lies in the Windows directory, as on Windows; any other
// name is a Windows-form path. Section and key names are case-insensitive; the file keeps its order,
// comments and unknown lines, and is written with CR LF line ends.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "win32/types.h"

// With lpAppName NULL: the section names, with lpKeyName NULL: the section's key names, each ended by NUL
// and the list by a second NUL; a list cut short by nSize ends in two NULs and returns nSize - 2. Otherwise
// the value (or lpDefault, trailing blanks removed), cut to nSize - 1 characters and returning nSize - 1
// when it does not fit.
DWORD GetPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                              DWORD nSize, LPCSTR lpFileName);
// The value's leading decimal number (sign allowed); nDefault when the key is missing.
UINT GetPrivateProfileInt(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
// lpKeyName NULL deletes the section, lpString NULL deletes the key; otherwise sets the key, creating the
// section and the file as needed.
BOOL WritePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);

// The INI reader and writer, a pure function over the file's bytes (no size limit, no line limit).
namespace tavrin::ini {

struct Line {
  std::string text;   // as in the file, without its line end
  std::string key;    // trimmed; empty for a line that holds no key (blank, comment, no '=')
  std::string value;  // trimmed, quotes kept
};

struct Section {
  std::string name;  // trimmed text between '[' and ']'
  std::string header;
  std::vector<Line> lines;
};

struct Document {
  bool byteOrderMark = false;  // the text began with a UTF-8 byte-order mark; written back as it was
  std::vector<Line> preamble;  // lines before the first section
  std::vector<Section> sections;
};

Document Parse(std::string_view bytes);
std::string Serialize(const Document& document);  // CR LF line ends

}  // namespace tavrin::ini
