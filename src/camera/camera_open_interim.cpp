// INTERIM: replaced by the camera instance when it lands.
#include "camera/camera.h"
int CQelvan::ClaimDevice(int) { return 1; }
int CQelvan::ReleaseDevice(int) { return 1; }
bool CQelvan::DeviceBusy(int) { return false; }
void CQelvan::RecomputeRealExposure() {}
