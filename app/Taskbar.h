// The system's side of the taskbar button (Windows 7 and later): the progress indicator of
// ITaskbarList3, reached through COM, and the button's flash. Every call that older
// systems lack is looked up at run time; there the button stays as it is.
#pragma once

#include <windows.h>

#include "app/AppServices.h"

namespace telvio {

UINT TaskbarButtonMessage(HWND window);
TaskbarList* OpenTaskbarList();
void ShowTaskbarProgress(TaskbarList* list, HWND window, TaskbarState state, int percent);
void CloseTaskbarList(TaskbarList* list);
void FlashTaskbarButton(HWND window);

}  // namespace telvio
