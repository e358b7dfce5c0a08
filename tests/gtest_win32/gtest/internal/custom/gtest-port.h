// GoogleTest's hook for a port of its own (gtest/internal/custom), taken
// before GoogleTest's empty one by the Windows unit tests. The MinGW
// toolchain's standard library (its win32 thread model) has no std::mutex
// and no std::condition_variable, of which GoogleTest makes its
// Notification: here it is a Win32 event. GoogleTest's other locks are
// Win32 ones already.
#ifndef FERRIN_GTEST_CUSTOM_PORT_H
#define FERRIN_GTEST_CUSTOM_PORT_H

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

// Lets threads wait until the thread that made it notifies them; made and
// destroyed by that thread.
class Notification {
 public:
  Notification() : event_(CreateEventA(NULL, TRUE, FALSE, NULL)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#endif  // FERRIN_GTEST_CUSTOM_PORT_H
