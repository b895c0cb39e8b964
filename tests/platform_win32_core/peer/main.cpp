// A second process for the cross-process tests of the platform layer. Its commands:
//   event-wait NAME MS            open the named event, wait; exit 0 when signalled, 1 on time-out
//   event-set NAME                open the named event and set it
//   event-create NAME MANUAL INITIAL RELEASE
//                                 create the event, print "created <GetLastError()>", then hold it until the
//                                 named event RELEASE is set
//   window TITLE QUIT             a hidden, minimised top-level window with an owned pop-up that was
//                                 active last; prints the messages they get (input included), ends when
//                                 QUIT is set
//   session-window TITLE ANSWER   a top-level window that answers WM_QUERYENDSESSION with ANSWER; prints
//                                 both end-of-session messages ("query LPARAM", "end WPARAM"); ends after 20 s
//   busy-window TITLE             a top-level window with a check box; takes no messages until another thread
//                                 sends it one ("asked"), then destroys its window ("gone") and ends
// Every line goes to stdout at once; "ready"-type lines tell the test when to go on.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "win32/controls.h"
#include "win32/sync.h"
#include "win32/user.h"

namespace {

LRESULT CALLBACK PrintingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const char* label = reinterpret_cast<const char*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
  if (message == WM_SHOWWINDOW) printf("%s WM_SHOWWINDOW %d\n", label, static_cast<int>(wParam));
  if (message == WM_ACTIVATE) printf("%s WM_ACTIVATE %d\n", label, static_cast<int>(wParam));
  if (message == WM_COMMAND) printf("%s WM_COMMAND %d %d\n", label, static_cast<int>(wParam), static_cast<int>(lParam));
  if (message == WM_LBUTTONDOWN) printf("%s WM_LBUTTONDOWN %d %d\n", label, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
  if (message == WM_CHAR) printf("%s WM_CHAR %c\n", label, static_cast<char>(wParam));
  fflush(stdout);
  return DefWindowProc(hwnd, message, wParam, lParam);
}

int EventWait(const char* name, DWORD ms) {
  HANDLE event = OpenEvent(SYNCHRONIZE, FALSE, name);
  if (!event) return 3;
  printf("opened\n");
  fflush(stdout);
  return WaitForSingleObject(event, ms) == WAIT_OBJECT_0 ? 0 : 1;
}

int EventSet(const char* name) {
  HANDLE event = OpenEvent(EVENT_MODIFY_STATE, FALSE, name);
  return event && SetEvent(event) ? 0 : 3;
}

int EventCreate(const char* name, bool manual, bool initial, const char* release) {
  HANDLE releaseEvent = CreateEvent(nullptr, TRUE, FALSE, release);
  HANDLE event = CreateEvent(nullptr, manual, initial, name);
  printf("created %u\n", static_cast<unsigned>(GetLastError()));
  fflush(stdout);
  if (!event || !releaseEvent) return 3;
  return WaitForSingleObject(releaseEvent, 20000) == WAIT_OBJECT_0 ? 0 : 1;
}

int BusyWindow(const char* title) {
  tavrin::win::WindowSpec frameSpec;
  frameSpec.className = "BusyFrame";
  frameSpec.title = title;
  frameSpec.style = WS_VISIBLE;
  HWND frame = tavrin::win::CreateWindowObject(frameSpec);
  tavrin::win::WindowSpec boxSpec;
  boxSpec.className = "Button";
  boxSpec.title = "Option";
  boxSpec.style = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
  boxSpec.parent = frame;
  boxSpec.width = 80;
  boxSpec.height = 20;
  if (!frame || !tavrin::win::CreateWindowObject(boxSpec)) return 3;
  printf("ready\n");
  fflush(stdout);
  // Busy: the first message another thread sends stays unanswered while the window goes.
  if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 20000, QS_SENDMESSAGE) != WAIT_OBJECT_0) return 4;
  printf("asked\n");
  fflush(stdout);
  DestroyWindow(frame);
  printf("gone\n");
  fflush(stdout);
  return 0;
}

int Window(const char* title, const char* quitName) {
  HANDLE quit = CreateEvent(nullptr, TRUE, FALSE, quitName);
  tavrin::win::WindowSpec frameSpec;
  frameSpec.className = "PeerFrame";
  frameSpec.title = title;
  frameSpec.proc = PrintingProc;
  frameSpec.userData = reinterpret_cast<LONG_PTR>("frame");
  HWND frame = tavrin::win::CreateWindowObject(frameSpec);
  ShowWindow(frame, SW_SHOWMINNOACTIVE);
  ShowWindow(frame, SW_HIDE);  // minimised and hidden, as a program that lives in the notification area

  tavrin::win::WindowSpec popupSpec;
  popupSpec.className = "PeerPopup";
  popupSpec.title = "Peer pop-up";
  popupSpec.proc = PrintingProc;
  popupSpec.userData = reinterpret_cast<LONG_PTR>("popup");
  popupSpec.parent = frame;  // its owner
  HWND popup = tavrin::win::CreateWindowObject(popupSpec);
  ShowWindow(popup, SW_SHOW);
  if (!quit || !frame || !popup) return 3;
  printf("ready\n");
  fflush(stdout);

  for (;;) {
    DWORD result = MsgWaitForMultipleObjects(1, &quit, FALSE, 20000, QS_ALLINPUT);
    if (result != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }
  DestroyWindow(frame);
  printf("bye\n");
  fflush(stdout);
  return 0;
}

LRESULT CALLBACK SessionProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_QUERYENDSESSION) {
    printf("query %lx\n", static_cast<unsigned long>(lParam));
    fflush(stdout);
    return GetWindowLongPtr(hwnd, GWLP_USERDATA);
  }
  if (message == WM_ENDSESSION) {
    printf("end %d\n", static_cast<int>(wParam));
    fflush(stdout);
    return 0;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

int SessionWindow(const char* title, int answer) {
  tavrin::win::WindowSpec spec;
  spec.className = "PeerSession";
  spec.title = title;
  spec.proc = SessionProc;
  spec.userData = answer;
  if (!tavrin::win::CreateWindowObject(spec)) return 3;
  printf("ready\n");
  fflush(stdout);
  const DWORD end = GetTickCount() + 20000;
  while (GetTickCount() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "event-wait") == 0) return EventWait(argv[2], static_cast<DWORD>(atoi(argv[3])));
  if (argc == 3 && strcmp(argv[1], "event-set") == 0) return EventSet(argv[2]);
  if (argc == 6 && strcmp(argv[1], "event-create") == 0)
    return EventCreate(argv[2], atoi(argv[3]) != 0, atoi(argv[4]) != 0, argv[5]);
  if (argc == 4 && strcmp(argv[1], "window") == 0) return Window(argv[2], argv[3]);
  if (argc == 3 && strcmp(argv[1], "busy-window") == 0) return BusyWindow(argv[2]);
  if (argc == 4 && strcmp(argv[1], "session-window") == 0) return SessionWindow(argv[2], atoi(argv[3]));
  fprintf(stderr, "usage: %s event-wait|event-set|event-create|window ...\n", argv[0]);
  return 2;
}
