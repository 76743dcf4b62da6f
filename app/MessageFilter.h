// The program runs elevated; programs of the user's rights (Explorer, the taskbar) cannot
// send it messages unless it lets them in, from Vista on.
#pragma once

#include <windows.h>

namespace telvio {

// Lets `message` from processes of lower rights through to `window` (Windows 7 on), or to
// the whole process (Vista); where neither call exists nothing filters messages.
void LetMessageIn(HWND window, UINT message);

}  // namespace telvio
