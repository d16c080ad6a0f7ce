#pragma once
// A real OS handle to stand in for a drive handle where a test only needs something to close:
// the null device, opened the platform's way.

#include "services/DriveHandle.h"

DriveHandle OpenScratchHandle();
bool ScratchHandleIsOpen(DriveHandle handle);
void CloseScratchHandle(DriveHandle handle);
