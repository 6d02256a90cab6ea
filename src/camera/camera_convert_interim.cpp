// INTERIM: replaced by the frame conversion when it lands.
#include "camera/camera.h"
int CQelvan::ConvertFrame() { return 1; }
