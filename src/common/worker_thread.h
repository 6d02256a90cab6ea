// A thread that runs one function, with its handle, its id and its done signal in one owner.
#pragma once

#include <windows.h>

#include <functional>
#include <new>
#include <utility>

namespace common {

// The done event is set by the thread itself right after the function returned and its captures
// were destroyed. Waiting on it rather than on the thread handle also works under the loader
// lock (a DLL being unloaded), where a thread cannot finish exiting. After the done event the
// thread touches nothing of its owner, so the owner may go as soon as a wait has seen it.
//
// One owner thread starts, waits for and joins a worker; the calls are not meant to race.
class WorkerThread {
 public:
  WorkerThread() = default;
  // Joins a thread still held, so no handle is ever leaked and the function never outlives what
  // it uses. On the worker itself it lets the thread go without waiting.
  ~WorkerThread() { Join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs fn on a new thread at the given priority. False, with nothing left open and fn not
  // run, when a thread is held already (Join it first), fn is empty, or the thread or its done
  // event could not be made.
  bool Start(std::function<void()> fn, int priority = THREAD_PRIORITY_NORMAL);
  // Waits up to ms milliseconds (INFINITE allowed) for the function to return. True when it
  // has, or when no thread is held.
  bool Wait(DWORD ms) const {
    return thread_ == nullptr || WaitForSingleObject(done_, ms) == WAIT_OBJECT_0;
  }
  // Waits without limit for the function to return, then closes the handles. On the worker
  // itself it closes them without waiting, and the thread runs on unowned.
  void Join();

  // From a successful Start until Join, also once the function has returned.
  bool Started() const { return thread_ != nullptr; }
  DWORD Id() const { return id_; }
  // For waits on several objects at once; null when no thread is held.
  HANDLE DoneEvent() const { return done_; }
  bool IsCurrentThread() const { return id_ != 0 && GetCurrentThreadId() == id_; }

 private:
  // What the thread takes over: the function and its own copy of the done event.
  struct Launch {
    std::function<void()> fn;
    HANDLE done;
  };
  static DWORD WINAPI Main(LPVOID arg);

  HANDLE thread_ = nullptr;
  HANDLE done_ = nullptr;
  DWORD id_ = 0;
};

inline DWORD WINAPI WorkerThread::Main(LPVOID arg) {
  Launch* launch = static_cast<Launch*>(arg);
  launch->fn();
  const HANDLE done = launch->done;
  delete launch;
  SetEvent(done);
  CloseHandle(done);
  return 0;
}

inline bool WorkerThread::Start(std::function<void()> fn, int priority) {
  if (thread_ != nullptr || !fn) return false;
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (done == nullptr) return false;
  Launch* launch = new (std::nothrow) Launch{std::move(fn), nullptr};
  const HANDLE self = GetCurrentProcess();
  if (launch == nullptr ||
      !DuplicateHandle(self, done, self, &launch->done, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    delete launch;
    CloseHandle(done);
    return false;
  }
  // Suspended, so that the priority holds from the function's first instruction.
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, Main, launch, CREATE_SUSPENDED, &id);
  if (thread != nullptr && priority != THREAD_PRIORITY_NORMAL) SetThreadPriority(thread, priority);
  if (thread != nullptr && ResumeThread(thread) == static_cast<DWORD>(-1)) {
    // It never ran, so the launch is still ours.
    TerminateThread(thread, 0);
    CloseHandle(thread);
    thread = nullptr;
  }
  if (thread == nullptr) {
    CloseHandle(launch->done);
    delete launch;
    CloseHandle(done);
    return false;
  }
  thread_ = thread;
  done_ = done;
  id_ = id;
  return true;
}

inline void WorkerThread::Join() {
  if (thread_ == nullptr) return;
  if (!IsCurrentThread()) WaitForSingleObject(done_, INFINITE);
  CloseHandle(done_);
  CloseHandle(thread_);
  thread_ = nullptr;
  done_ = nullptr;
  id_ = 0;
}

}  // namespace common
