// Finding the CD/DVD drives at start-up, classifying them, and showing the chosen one's
// revision (Windows only).
#pragma once

#include <windows.h>

#include "drive/DriveRecord.h"
#include "drive/Transport.h"

namespace telvio {

// Fills `table` (driveCount first set to 0) by the method the transport state picks:
// ASPI, NT 4 and older, or NT 5 and later. Writes state.currentHandle.
void DiscoverDrives(TransportState& state, DriveTable& table);

// Reads the capabilities page of every listed drive and sets its driveClass.
void ClassifyDrives(DriveTable& table);

// The first record whose displayName equals `name` exactly (case-sensitive), or null.
const DriveRecord* FindDrive(const DriveTable& table, const char* name);

// The drive box's selection-accepted handler: shows the selected drive's revision in
// the revision label of `dialog` (IDC_DRIVE_BOX and IDC_REVISION of resources/resource.h).
void SelectDrive(HWND dialog, const DriveTable& table);

}  // namespace telvio
