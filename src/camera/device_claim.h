// The device-use table that every program on the machine shares ("DOVIRA_USBCAMERA"): a claim
// marks a camera as streamed from by its owner. One object per camera instance, with an owner
// word that no other live instance, in this process or another, carries.
#pragma once

#include <windows.h>

#include <cstdint>

class DeviceClaim {
 public:
  DeviceClaim();
  ~DeviceClaim();  // releases every claim it still holds
  DeviceClaim(const DeviceClaim&) = delete;
  DeviceClaim& operator=(const DeviceClaim&) = delete;

  // Joins the shared region, making it when no program has; false when neither works.
  bool Open();
  // Marks the camera as this owner's; false without the region or for a number out of range.
  bool Claim(int number);
  // Clears the mark when it is this owner's.
  void Release(int number);
  // Another owner's claim stands on the camera: a claim of a process that has ended does not.
  bool Busy(int number) const;
  uint32_t OwnerWord() const { return owner_; }

 private:
  HANDLE mapping_ = nullptr;
  uint8_t* view_ = nullptr;
  uint32_t owner_ = 0;
};
