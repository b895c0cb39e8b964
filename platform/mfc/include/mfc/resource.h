// The program's string table: the texts that CString::LoadString and the framework load by number.
// A program registers its table once at start-up (before the application runs); an id it does not hold
// is read from the program's string-table resources (win32/resources.h).
#pragma once
#include <initializer_list>

#include "win32/types.h"

namespace mfc {

struct StringResource {
  UINT id;
  const char* text;
};

// Adds the entries to the table (a later entry with the same id replaces the earlier one).
void RegisterStrings(std::initializer_list<StringResource> strings);
// The text of id, or null when the table has none.
const char* FindString(UINT id);

}  // namespace mfc

// The framework's own string ids.
constexpr UINT AFX_IDS_APP_TITLE = 0xE000;  // 57344: the application title

// The framework's own command ids.
constexpr UINT ID_APP_ABOUT = 0xE140;  // 57664: "&About"
