// The library's one lock type: a CRITICAL_SECTION it owns, and a guard that holds it for a scope.
#pragma once

#include <windows.h>

namespace common {

// Recursive, like every critical section: a thread that holds it may enter it again.
class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }
  bool TryEnter() { return TryEnterCriticalSection(&section_) != 0; }

 private:
  CRITICAL_SECTION section_;
};

// Enters on construction and leaves on destruction, or earlier with Unlock (for work that
// copies under the lock and goes on without it).
class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& lock) : lock_(&lock) { lock_->Enter(); }
  ~ScopedLock() { Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

  // Leaves now; later calls and the destructor do nothing.
  void Unlock() {
    if (lock_ != nullptr) lock_->Leave();
    lock_ = nullptr;
  }

 private:
  CriticalSection* lock_;
};

}  // namespace common
