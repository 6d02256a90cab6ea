// The three setting dialogs.
#include "camera/camera.h"

#include "device/qelvan_device.h"

int CQelvan::SetCameraDlg(HWND) { return DeviceLayerPending(); }
int CQelvan::SetAnalogDlg(HWND) { return DeviceLayerPending(); }
int CQelvan::SetImageDlg(HWND) { return DeviceLayerPending(); }
