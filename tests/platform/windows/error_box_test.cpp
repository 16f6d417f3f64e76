// The system's error box: its caption, the message decoded from UTF-8, and the return on OK.
#include "platform/error_box.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <windows.h>

namespace orvanta {
namespace {

// The message box's text control.
constexpr int messageBoxTextId = 0xFFFF;

TEST(ErrorBox, ShowsTheUtf8MessageUnderItsCaptionAndReturnsOnOk) {
    // Wine opens windows only on a display (xvfb-run ctest ...).
    HWND probe =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe == nullptr) {
        GTEST_SKIP() << "no display to open windows on";
    }
    DestroyWindow(probe);
    std::atomic<bool> returned{false};
    std::wstring shown;
    // Plays the player: finds the box by its caption, reads it and presses OK. A box that never
    // closes would hang the run, so after a minute it ends the program instead.
    std::thread player([&] {
        for (int i = 0; i < 6000 && !returned; ++i) {
            HWND box = FindWindowW(L"#32770", L"Orvanta Launcher");
            if (box != nullptr && shown.empty()) {
                wchar_t text[256] = {};
                GetDlgItemTextW(box, messageBoxTextId, text, 256);
                shown = text;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            Sleep(10);
        }
        if (!returned) {
            std::fputs("the error box did not close\n", stderr);
            std::_Exit(1);
        }
    });
    // A stray byte that is not UTF-8 shows as a replacement character rather than emptying it.
    showErrorBox("Orvanta Launcher",
                 "Dossier \xC3\xA9t\xC3\xA9 \xE2\x80\x94 C:\\Users\\Jos\xC3\xA9 \xFF!");
    returned = true;
    player.join();
    EXPECT_EQ(shown, L"Dossier \u00E9t\u00E9 \u2014 C:\\Users\\Jos\u00E9 \uFFFD!");
}

} // namespace
} // namespace orvanta
