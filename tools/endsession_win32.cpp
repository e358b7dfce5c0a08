// endsession
//
// Tells a running ferrin that the user is logging off, as Windows does: the
// log-off query and then the end of the session, sent to ferrin's hidden
// session window. Prints "sent" once ferrin has taken both (it then ends by
// itself), or "no window" when no ferrin is listening. Used by the
// end-to-end tests under Wine, where closing a terminal sends no console
// event.
#include <windows.h>

#include <cstdio>

int main() {
  HWND window = FindWindowA("ferrin session", NULL);
  if (window == NULL) {
    std::puts("no window");
    return 1;
  }
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &answer);
  // Windows waits for the answer to the end of the session; ferrin ends
  // before it gives one, so the wait ends with the process.
  SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 10000, &answer);
  std::puts("sent");
  return 0;
}
