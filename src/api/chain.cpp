#include "api/chain.h"

#include <cstdlib>

#include "camera/camera.h"

namespace {
uint32_t SystemTick() { return GetTickCount(); }
int SystemRandom() { return std::rand(); }

// The instances this thread is running calls on, innermost last. Calls nest only through
// message loops inside a call (a dialog), so the stack stays shallow.
constexpr int kMaxNesting = 64;
thread_local CQelvan* t_calls[kMaxNesting];
thread_local int t_depth = 0;

int CallsOnThisThread(const CQelvan* instance) {
  int n = 0;
  for (int i = 0; i < t_depth && i < kMaxNesting; ++i) n += t_calls[i] == instance;
  return n;
}

// Waits for the event or a period, answering messages sent to this thread's windows meanwhile:
// a call on another thread may be waiting for one of them.
void WaitAnswering(HANDLE event, DWORD ms) {
  const DWORD count = event ? 1 : 0;
  if (MsgWaitForMultipleObjects(count, &event, FALSE, ms, QS_SENDMESSAGE) == WAIT_OBJECT_0 + count) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}
}  // namespace

CSdkChain g_sdkChain;

CSdkChain::CSdkChain() : tick_(SystemTick), random_(SystemRandom) {}

CSdkChain::Node* CSdkChain::Lookup(int32_t handle) {
  Locked guard(this);
  return Find(handle) ? current_ : nullptr;
}

CQelvan* CSdkChain::LookupInstance(int32_t handle) {
  Locked guard(this);
  Node* node = Lookup(handle);
  return node ? node->data.instance : nullptr;
}

int32_t CSdkChain::CreateInstance() {
  CQelvan* instance = new (std::nothrow) CQelvan();
  if (!instance) return 0;
  const int32_t handle = Register(instance);
  if (!handle) delete instance;
  return handle;
}

int32_t CSdkChain::Register(CQelvan* instance) {
  Locked guard(this);
  uint32_t value = tick_() + static_cast<uint32_t>(random_()) + count_;
  while (value == 0 || IsLive(static_cast<int32_t>(value))) ++value;
  const int32_t handle = static_cast<int32_t>(value);
  return Insert(CSDKDATA{handle, instance}) ? handle : 0;
}

bool CSdkChain::Unlink(int32_t handle, CQelvan** instance) {
  Locked guard(this);
  if (!Find(handle)) return false;
  if (instance != nullptr) *instance = current_->data.instance;
  RemoveCurrent();
  return true;
}

void CSdkChain::Remove(int32_t handle) {
  Locked guard(this);
  if (Find(handle)) RemoveCurrent();
}

void CSdkChain::SetHandleSources(TickSource tick, RandomSource random) {
  Locked guard(this);
  tick_ = tick ? tick : SystemTick;
  random_ = random ? random : SystemRandom;
}

bool CSdkChain::IsLive(int32_t handle) const {
  const Node* node = current_;
  for (uint32_t i = 0; i < count_; ++i, node = node->next) {
    if (node->data.handle == handle) return true;
  }
  return false;
}

CQelvan* CSdkChain::EnterCall(int32_t handle) {
  Locked guard(this);
  Node* node = Lookup(handle);
  CQelvan* instance = node ? node->data.instance : nullptr;
  if (!instance) return nullptr;
  instance->callsInProgress_.fetch_add(1);
  if (t_depth < kMaxNesting) t_calls[t_depth] = instance;
  ++t_depth;
  return instance;
}

void CSdkChain::LeaveCall(CQelvan* instance) {
  --t_depth;
  bool destroy = false;
  {
    // Under the lock, so that Release cannot see the count fall and close the event (or
    // destroy the instance) between the decrement and the signal.
    Locked guard(this);
    destroy = instance->callsInProgress_.fetch_sub(1) == 1 && instance->destroyOnLastLeave_.load();
    if (HANDLE left = instance->callsLeftEvent_.load()) SetEvent(left);
  }
  if (destroy) {
    try {
      delete instance;
    } catch (...) {
    }
  }
}

bool CSdkChain::ReleaseInstance(int32_t handle) {
  HANDLE left = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CQelvan* instance = nullptr;
  {
    Locked guard(this);
    if (!Find(handle)) {
      if (left) CloseHandle(left);
      return false;
    }
    instance = current_->data.instance;
    RemoveCurrent();
    if (instance) instance->callsLeftEvent_.store(left);
  }
  const int own = instance ? CallsOnThisThread(instance) : 0;
  // Acquisition stops now, and open dialogs end, even when the instance itself must wait for
  // calls still running (this thread's own, such as a dialog's message loop, or another's):
  // no frame reaches the application after Release has returned.
  if (instance) instance->Retire();
  while (instance) {
    {
      Locked guard(this);
      if (instance->callsInProgress_.load() <= own) {
        instance->callsLeftEvent_.store(nullptr);
        if (own > 0) instance->destroyOnLastLeave_.store(1);
        break;
      }
    }
    // The period only bounds a missed wake-up; leaving calls signal the event.
    WaitAnswering(left, 50);
  }
  if (left) CloseHandle(left);
  if (instance && own == 0) {
    try {
      delete instance;
    } catch (...) {
    }
  }
  return true;
}
