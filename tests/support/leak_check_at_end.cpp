// Linked into the test programs that open windows (OPENS_WINDOWS in tests/CMakeLists.txt).
//
// The GL driver that draws their windows (Mesa's swrast_dri under Xvfb) is unloaded while the
// process exits, when SFML's last context goes, and that is before LeakSanitizer's own check at
// exit. The driver's leaks then point into no loaded module, so tests/lsan.supp cannot name them,
// and the fast unwinder, which cannot walk up through the driver's frames, finds nothing above
// them to name either. Checking once every test has run, with the driver still loaded, finds the
// same leaks of our code and can name the driver's, whichever unwinder recorded the stacks.
#include <gtest/gtest.h>

// Defined only in a sanitizer build (-DORVANTA_SANITIZE=ON).
extern "C" void __lsan_do_leak_check() __attribute__((weak));

namespace {

class LeakCheckAtTheEnd : public testing::EmptyTestEventListener {
    void OnTestProgramEnd(const testing::UnitTest&) override {
        if (__lsan_do_leak_check != nullptr) {
            __lsan_do_leak_check(); // the check at exit is skipped after this one
        }
    }
};

[[maybe_unused]] const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new LeakCheckAtTheEnd);
    return true;
}();

} // namespace
