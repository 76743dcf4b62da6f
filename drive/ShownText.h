// The texts a drive gives, made fit to show and to compare: its record's fields without
// their padding, and any text with the bytes a window cannot show replaced. Portable: the
// engine's log lines use them as the windows do.
#pragma once

#include <cstddef>

namespace telvio {

// A copy of a drive record's text field (`size` bytes, the last kept for the terminator)
// without the blanks that pad it at the end.
void CopyTrimmedField(char* dst, const char* field, size_t size);

// A copy of `src` (at most `size` - 1 characters, up to its NUL) as a window shows it: a
// byte outside 0x20-0x7E becomes '?'. Under the UTF-8 code page the system would turn such
// a byte into U+FFFD, and a box's text would then no longer equal the drive's.
void CopyShownText(char* dst, const char* src, size_t size);

}  // namespace telvio
