// Sets the process up as the launcher does (unless told "unrestricted") and then makes the first
// call into WinHTTP, which is delay-loaded as in the launcher.
#include "app/startup.hpp"

#include <cstring>
#include <windows.h>
#include <winhttp.h>

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "unrestricted") != 0) {
        orvanta::prepareProcess();
    }
    return WinHttpCheckPlatform() ? 0 : 2;
}
