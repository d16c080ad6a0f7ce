// Placeholder until the SG_IO implementation lands.
#include <unistd.h>

#include "device/PassThrough.h"

bool SendPassThrough(DriveHandle, const PassThroughRequest&, PassThroughResult*) { return false; }

void CloseDriveHandle(DriveHandle handle) { ::close(static_cast<int>(handle)); }
