// CTRing: a circular doubly linked list with a movable "current" node, guarded by a
// critical section. The handle registry is built on it; lookups move current, so every
// operation, reads included, runs under the lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <new>

template <class T>
class CTRing {
 public:
  struct Node {
    T data;
    Node* previous;
    Node* next;
  };

  CTRing() { InitializeCriticalSection(&lock_); }
  virtual ~CTRing() {
    RemoveAll();
    DeleteCriticalSection(&lock_);
  }
  CTRing(const CTRing&) = delete;
  CTRing& operator=(const CTRing&) = delete;

  // Links a new node in just before current and makes it current, so walking next from
  // current visits entries newest first. Returns false when the node cannot be allocated.
  virtual bool Insert(const T& element) {
    Node* node = new (std::nothrow) Node{element, nullptr, nullptr};
    if (!node) return false;
    Locked guard(this);
    if (!current_) {
      node->previous = node->next = node;
    } else {
      node->previous = current_->previous;
      node->next = current_;
      current_->previous->next = node;
      current_->previous = node;
    }
    current_ = node;
    ++count_;
    return true;
  }

  // Walks next from current until the handle is found (current rests on it) or the walk
  // reaches the node before the start (current rests there, one step before the start).
  int Find(int32_t handle) {
    Locked guard(this);
    if (!current_) return 0;
    const int32_t last = current_->previous->data.handle;
    if (current_->data.handle == handle) return 1;
    for (;;) {
      if (current_->data.handle == last) return 0;
      current_ = current_->next;
      if (current_->data.handle == handle) return 1;
    }
  }

  // Frees the current node; its successor becomes current. 0 on an empty ring.
  int RemoveCurrent() {
    Locked guard(this);
    if (!current_) return 0;
    Node* node = current_;
    if (node->next == node) {
      current_ = nullptr;
    } else {
      node->previous->next = node->next;
      node->next->previous = node->previous;
      current_ = node->next;
    }
    --count_;
    delete node;
    return 1;
  }

  void RemoveAll() {
    Locked guard(this);
    while (RemoveCurrent()) {
    }
  }

  Node* Current() const { return current_; }
  uint32_t Count() const { return count_; }

 protected:
  // Holds the ring lock for a scope; the lock is recursive, so nested ring steps are fine.
  class Locked {
   public:
    explicit Locked(CTRing* ring) : ring_(ring) { EnterCriticalSection(&ring_->lock_); }
    ~Locked() { LeaveCriticalSection(&ring_->lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

   private:
    CTRing* ring_;
  };

  Node* current_ = nullptr;
  uint32_t count_ = 0;
  CRITICAL_SECTION lock_;
};
