#include "api/chain.h"

#include <cstdlib>

#include "camera/camera.h"

namespace {
uint32_t SystemTick() { return GetTickCount(); }
int SystemRandom() { return std::rand(); }
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
