// Window captures from the screen: the program's windows live in another process, whose
// device contexts this one cannot use, so the pixels are read back from the desktop.
#include <cstdio>
#include <vector>

#include "tools/scripted-user/UserSteps.h"

namespace user {

bool SaveWindowBitmap(HWND window, const std::string& path, std::string& error) {
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(400);  // let the program's thread finish painting
    RECT r;
    GetWindowRect(window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        error = "the window has no area";
        return false;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    int stride = ((width * 3) + 3) & ~3;
    std::vector<unsigned char> bits(size_t(stride) * size_t(height));
    int rows = GetDIBits(memory, bitmap, 0, UINT(height), bits.data(),
                         reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied || rows != height) {
        error = "the screen could not be read";
        return false;
    }

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = DWORD(file.bfOffBits + bits.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
              std::fwrite(&info, sizeof info, 1, out) == 1 &&
              std::fwrite(bits.data(), 1, bits.size(), out) == bits.size();
    ok = std::fclose(out) == 0 && ok;
    if (!ok) error = "cannot write " + path;
    if (ok) std::printf("screenshot %s %dx%d\n", path.c_str(), width, height);
    return ok;
}

}  // namespace user
