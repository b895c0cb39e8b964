// Message boxes without a screen: a test installs a sink that records and answers them; otherwise each
// box is one line on stderr, answered by TAVRIN_MSGBOX_ANSWER or by its default button.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "win32/user.h"

namespace tavrin {
namespace {

struct SinkSlot {
  std::mutex lock;
  MessageBoxSink sink;
};

SinkSlot& Slot() {
  static auto* slot = new SinkSlot;  // never destroyed: boxes may be shown during exit
  return *slot;
}

std::vector<int> Buttons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}

int DefaultAnswer(UINT type) {
  if (const char* fixed = getenv("TAVRIN_MSGBOX_ANSWER"); fixed && *fixed) {
    char* end = nullptr;
    long answer = strtol(fixed, &end, 10);
    if (*end == '\0' && answer > 0) return static_cast<int>(answer);
  }
  auto buttons = Buttons(type);
  size_t index = (type & MB_DEFMASK) >> 8;
  return buttons[index < buttons.size() ? index : 0];
}

// One line, whatever the text holds.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

void SetMessageBoxSink(MessageBoxSink sink) {
  std::lock_guard guard(Slot().lock);
  Slot().sink = std::move(sink);
}

}  // namespace tavrin

int MessageBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  const std::string body = text ? text : "";
  const std::string title = caption ? caption : "Error";
  tavrin::MessageBoxSink sink;
  {
    std::lock_guard guard(tavrin::Slot().lock);
    sink = tavrin::Slot().sink;
  }
  if (sink) return sink(body, title, type);
  int answer = tavrin::DefaultAnswer(type);
  fprintf(stderr, "MessageBox [%s] %s -> %d\n", tavrin::OneLine(title).c_str(), tavrin::OneLine(body).c_str(), answer);
  return answer;
}
