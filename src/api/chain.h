// The process-wide handle registry: maps camera handles to camera instances.
#pragma once

#include "api/ring.h"

class CQelvan;

// One registry entry: the handle and the camera instance it names (owned through Release).
struct CSDKDATA {
  int32_t handle;
  CQelvan* instance;
};

class CSdkChain : public CTRing<CSDKDATA> {
 public:
  using TickSource = uint32_t (*)();
  using RandomSource = int (*)();

  CSdkChain();

  // Finds the handle's node under the lock (it becomes current); null when unknown.
  Node* Lookup(int32_t handle);
  // The camera instance of a handle, or null for an unknown handle or an emptied node.
  CQelvan* LookupInstance(int32_t handle);
  // Constructs a camera instance and registers it; 0 when it cannot be made.
  int32_t CreateInstance();
  // Unregisters the handle and hands its instance to the caller, who destroys it; all under
  // the lock, so of two concurrent calls only one gets the instance. False for an unknown
  // handle.
  bool Unlink(int32_t handle, CQelvan** instance);

  // The export frame: the instance of a handle with its count of calls in progress raised
  // (null for an unknown handle), and the matching leave, which destroys the instance when
  // a Release on this thread left that to the last call.
  CQelvan* EnterCall(int32_t handle);
  void LeaveCall(CQelvan* instance);
  // Qelvan_Release: unlinks the handle, waits until no other thread runs a call on its
  // instance and destroys it (or leaves that to this thread's own calls in progress, when
  // Release runs inside one of them, such as a dialog's message loop). False when unknown.
  bool ReleaseInstance(int32_t handle);

 private:
  friend struct ChainTestSeam;  // tests register fake instances and fix the handle formula

  // Registers an instance under a new handle: tick + rand() + count, stepped past 0 and
  // past handles that are live, so a handle never names two instances. 0 on failure.
  int32_t Register(CQelvan* instance);
  // Unregisters the handle (the instance itself is not destroyed here).
  void Remove(int32_t handle);
  // Replaces the tick and random sources of the handle formula.
  void SetHandleSources(TickSource tick, RandomSource random);

  // Whether a handle is registered, without moving current.
  bool IsLive(int32_t handle) const;

  TickSource tick_;
  RandomSource random_;
};

// The registry of this library instance.
extern CSdkChain g_sdkChain;
