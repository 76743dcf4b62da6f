// What a screen reader learns of a colour label: the system's standard object for the
// window, told that it is static text, read-only, named by the label's text and with no
// keyboard shortcut. Without this the reader finds an unnamed "client" and stays silent.
// The accessibility library (oleacc) is looked up when a reader first asks: Windows 95
// and NT 4 before Service Pack 4 have none, and there the label answers as a plain window.
#pragma once

#include <windows.h>

namespace telvio {

// Answers WM_GETOBJECT for `label`; false when it is not for the client object or the
// system cannot make one (then the default handling answers).
bool AnswerLabelObject(HWND label, WPARAM wParam, LPARAM lParam, LRESULT* answer);

// Tells a listening screen reader that the label's text changed.
void AnnounceNameChange(HWND label);

}  // namespace telvio
