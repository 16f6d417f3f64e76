#include "platform/icon_resource.hpp"

#include "platform/windows/win32.hpp"

namespace orvanta {

namespace {

BgraPixels bitmapPixels(HBITMAP bitmap) {
    BITMAP description{};
    GetObjectW(bitmap, sizeof description, &description);
    BgraPixels pixels;
    if (description.bmWidth <= 0 || description.bmHeight <= 0) {
        return pixels;
    }
    pixels.width = static_cast<unsigned>(description.bmWidth);
    pixels.height = static_cast<unsigned>(description.bmHeight);
    pixels.bytes.assign(static_cast<std::size_t>(pixels.width) * pixels.height * 4u, 0);

    // A negative height asks for the rows top-down.
    BITMAPINFO layout{};
    layout.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    layout.bmiHeader.biWidth = description.bmWidth;
    layout.bmiHeader.biHeight = -description.bmHeight;
    layout.bmiHeader.biPlanes = 1;
    layout.bmiHeader.biBitCount = 32;
    layout.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, pixels.height, pixels.bytes.data(), &layout, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return pixels;
}

} // namespace

std::optional<BgraPixels> loadIconResource(int id) {
    HMODULE program = GetModuleHandleW(nullptr);
    HANDLE icon = nullptr;
    for (const int side : {256, 64}) {
        icon = LoadImageW(program, MAKEINTRESOURCEW(id), IMAGE_ICON, side, side, LR_DEFAULTCOLOR);
        if (icon != nullptr) {
            break;
        }
    }
    if (icon == nullptr) {
        return std::nullopt;
    }
    ICONINFO info{};
    if (!GetIconInfo(static_cast<HICON>(icon), &info)) {
        DestroyIcon(static_cast<HICON>(icon));
        return std::nullopt;
    }
    BgraPixels pixels = bitmapPixels(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask);
    if (info.hbmColor != nullptr) {
        DeleteObject(info.hbmColor);
    }
    if (info.hbmMask != nullptr) {
        DeleteObject(info.hbmMask);
    }
    DestroyIcon(static_cast<HICON>(icon));
    return pixels;
}

} // namespace orvanta
