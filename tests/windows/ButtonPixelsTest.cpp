// The Windows button paints the same pixels as the Linux one for every look: each look is
// painted here with GDI and compared with the sheet the Linux build painted
// (tests/windows/reference, painted by xp_button_test), exactly, except where either
// system's caption glyphs lie.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "windows/controls/CXPButton.h"

namespace {

struct Look {
    const char* name;
    bool hover;
    UINT state;
};

// The sheet's order (tests/linux/controls/ButtonReferenceTest.cpp).
const Look kLooks[] = {
    {"normal", false, 0},
    {"hover", true, 0},
    {"focus", false, ODS_FOCUS},
    {"focus + hover", true, ODS_FOCUS},
    {"pressed", false, ODS_SELECTED},
    {"default", false, ODS_DEFAULT},
    {"default + hover", true, ODS_DEFAULT},
    {"disabled", false, ODS_DISABLED},
};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned> pixels;  // 0xRRGGBB
    unsigned At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

Picture ReadPpm(const std::string& path) {
    Picture picture;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return picture;
    int maxValue = 0;
    if (std::fscanf(file, "P6 %d %d %d", &picture.width, &picture.height, &maxValue) == 3 &&
        maxValue == 255 && std::fgetc(file) != EOF) {
        picture.pixels.resize(static_cast<size_t>(picture.width * picture.height));
        for (unsigned& pixel : picture.pixels) {
            unsigned char rgb[3] = {};
            if (std::fread(rgb, 1, 3, file) != 3) break;
            pixel = (unsigned{rgb[0]} << 16) | (unsigned{rgb[1]} << 8) | rgb[2];
        }
    }
    std::fclose(file);
    return picture;
}

// One look painted by the button into a fresh bitmap on `background`.
Picture Paint(CXPButton& button, const Look& look, const wchar_t* caption, int w, int h,
              unsigned background) {
    ::SetWindowTextW(button.GetSafeHwnd(), caption);
    ::SendMessageW(button.GetSafeHwnd(), look.hover ? WM_MOUSEHOVER : WM_MOUSELEAVE, 0, 0);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC screen = ::GetDC(nullptr);
    const HDC dc = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    const HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = ::SelectObject(dc, bitmap);
    ::SetBkColor(dc, RGB(background >> 16, (background >> 8) & 0xFF, background & 0xFF));

    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = 1;
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = look.state;
    item.hwndItem = button.GetSafeHwnd();
    item.hDC = dc;
    item.rcItem = {0, 0, w, h};
    button.DrawItem(item);
    ::GdiFlush();

    Picture picture{w, h, std::vector<unsigned>(static_cast<size_t>(w * h))};
    const auto* data = static_cast<const unsigned*>(bits);
    for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = data[i] & 0xFFFFFF;
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    return picture;
}

TEST(ButtonPixels, EveryLookMatchesTheLinuxButtonOutsideTheCaption) {
    const HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 100, nullptr,
                                          nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    for (const auto& [w, h] : {std::pair{86, 23}, std::pair{60, 34}}) {
        const std::string path = std::string(VANTREL_BUTTON_REFERENCE_DIR) + "/xp_button_" +
                                 std::to_string(w) + "x" + std::to_string(h) + ".ppm";
        const Picture sheet = ReadPpm(path);
        ASSERT_EQ(sheet.width, w) << path;
        ASSERT_EQ(sheet.height, h * 2 * static_cast<int>(std::size(kLooks))) << path;
        const HWND control = ::CreateWindowExW(
            0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, w, h, parent,
            reinterpret_cast<HMENU>(1), ::GetModuleHandleW(nullptr), nullptr);
        CXPButton button;
        ASSERT_TRUE(button.SubclassDlgItem(1, parent));
        // The corners outside the rounding keep the background the Linux button had.
        const unsigned background = sheet.At(0, 0);

        for (size_t i = 0; i < std::size(kLooks); ++i) {
            const Look& look = kLooks[i];
            const int top = static_cast<int>(i) * 2 * h;
            const Picture captioned = Paint(button, look, L"Hide &Adsense", w, h, background);
            const Picture bare = Paint(button, look, L"", w, h, background);
            int differing = 0;
            std::string first;
            const auto differs = [&](const char* which, int x, int y) {
                if (differing++ == 0)
                    first = std::string(which) + " " + std::to_string(x) + "," + std::to_string(y);
            };
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const unsigned linuxCaptioned = sheet.At(x, top + y);
                    const unsigned linuxBare = sheet.At(x, top + h + y);
                    if (bare.At(x, y) != linuxBare) differs("bare", x, y);
                    // Inside either system's glyphs the fonts differ; nowhere else.
                    const bool glyph =
                        linuxCaptioned != linuxBare || captioned.At(x, y) != bare.At(x, y);
                    if (!glyph && captioned.At(x, y) != linuxCaptioned) differs("captioned", x, y);
                }
            }
            EXPECT_EQ(differing, 0) << look.name << " " << w << "x" << h << ", first at " << first;
        }
        ::DestroyWindow(control);
    }
    ::DestroyWindow(parent);
}

}  // namespace
