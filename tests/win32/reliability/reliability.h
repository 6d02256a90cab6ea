// Shared helpers of the reliability tests: the acquisition fixture (fresh virtual camera and
// registry, one configured camera instance, message pumping, thread and driver-handle counts)
// plus leak measures that work under Wine and the long-run switch.
#pragma once

#include <cstdint>
#include <string>

#include "acquisition/acquisition_fixture.h"

// Seconds a long run lasts (QLV_STRESS_SECONDS, set by scripts/soak.sh); 0 for the short forms
// that make test runs.
int StressSeconds();
// The short count, or the long one under soak.
int Scaled(int shortCount, int longCount);
// Prints a figure line that scripts/soak.sh collects.
void Figure(const std::string& text);

// Leak measures. Wine's GetProcessHandleCount and GetGuiResources always answer 0, so handles
// are measured by the value of a freshly created handle: the lowest free slot, which climbs when
// handles leak.
uintptr_t FreshHandleValue();
// Private bytes of this process.
size_t PrivateBytes();
// Whether a window class of this name is registered by the library or this program.
bool ClassRegistered(const char* name);

// Full path of a program beside this test program.
std::string BesideThisProgram(const char* name);

// Waits until the virtual camera has delivered `count` more frames to camera 0's readers.
bool WaitCameraFrames(unsigned count, DWORD timeoutMs = 20000);

// A frame buffer big enough for any colour type at the full window.
constexpr int kFrameBytes = 752 * 480 * 8;
