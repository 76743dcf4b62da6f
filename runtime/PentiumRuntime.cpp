// The parts of the C and C++ runtime that the i686 program takes from its own objects
// rather than from the toolchain's archives, which come built for the Pentium Pro and
// hold CMOV: the program must run on the Pentium, Pentium MMX and K6-2 that Windows 98
// and NT 4 ran on. Compiled with the program's -march=i586, these are the same code for
// those processors. tools/instruction-floor checks the shipped exe for what is left.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

// Every std::string member the program calls, instantiated here instead of taken from
// the library's prebuilt instantiation (the copy-on-write string that the library's
// exception classes hold is in CowString.cpp).
template class std::__cxx11::basic_string<char>;
template std::string std::operator+(const char*, const std::string&);
template std::string std::operator+(char, const std::string&);

// Global allocation, as the language defines it: the new-handler is asked until it gives
// up, then std::bad_alloc.
void* operator new(std::size_t size) {
    if (size == 0) size = 1;
    for (;;) {
        if (void* block = std::malloc(size)) return block;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ::operator new(size, std::nothrow);
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

// The C++ headers route snprintf to MinGW's own printf, whatever the program asks for
// (libstdc++ sets __USE_MINGW_ANSI_STDIO itself). This is that entry, on msvcrt's
// printf: every format the program uses means the same in msvcrt 6.0. msvcrt leaves the
// terminator out and answers -1 when the text does not fit, and has no call that only
// measures; C's answer, the whole length, comes from formatting into a larger buffer.
extern "C" int __cdecl __mingw_vsnprintf(char* out, std::size_t size, const char* format,
                                         va_list args) {
    if (size > 0) {
        va_list copy;
        va_copy(copy, args);
        int length = _vsnprintf(out, size, format, copy);
        va_end(copy);
        if (length >= 0 && std::size_t(length) < size) return length;
        out[size - 1] = '\0';
    }
    for (std::size_t room = size < 256 ? 256 : size * 2; room <= 0x10000000; room *= 2) {
        char* scratch = static_cast<char*>(std::malloc(room));
        if (scratch == nullptr) return -1;
        va_list copy;
        va_copy(copy, args);
        int length = _vsnprintf(scratch, room, format, copy);
        va_end(copy);
        std::free(scratch);
        if (length >= 0 && std::size_t(length) < room) return length;
    }
    return -1;
}
