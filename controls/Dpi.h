// The screen's DPI and sizes measured at 96 DPI brought to it. The program declares itself
// system-DPI aware, so nothing stretches its pixels for it: whatever it draws in pixels
// (font heights it chooses, offsets, pictures) it scales itself by DPI / 96.
#pragma once

namespace telvio {

// LOGPIXELSY of the screen, read once: for a system-DPI-aware program it holds until
// the user logs off. Every Windows back to 95 and NT 4 answers it.
int SystemDpi();

// `pixels`, a length at 96 DPI, at `dpi` (the system's by default), rounded half away
// from zero; exactly `pixels` at 96.
int ScaleForDpi(int pixels, int dpi);
int ScaleForDpi(int pixels);

}  // namespace telvio
