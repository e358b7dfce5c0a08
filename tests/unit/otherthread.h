// A second thread for a test, on both platforms (the Windows toolchain's
// standard library has no std::thread): it runs the body at once and is
// waited for by join, or at the end of its scope.
#pragma once

#include <functional>
#include <utility>

#ifdef _WIN32
#include <windows.h>

class OtherThread {
 public:
  explicit OtherThread(std::function<void()> body) : body_(std::move(body)) {
    handle_ = CreateThread(NULL, 0, run, this, 0, NULL);
  }
  ~OtherThread() { join(); }
  OtherThread(const OtherThread&) = delete;
  OtherThread& operator=(const OtherThread&) = delete;
  void join() {
    if (handle_ == NULL) return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = NULL;
  }

 private:
  static DWORD WINAPI run(LPVOID self) {
    static_cast<OtherThread*>(self)->body_();
    return 0;
  }
  std::function<void()> body_;
  HANDLE handle_;
};
#else
#include <thread>

class OtherThread {
 public:
  explicit OtherThread(std::function<void()> body) : thread_(std::move(body)) {}
  ~OtherThread() { join(); }
  OtherThread(const OtherThread&) = delete;
  OtherThread& operator=(const OtherThread&) = delete;
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};
#endif
