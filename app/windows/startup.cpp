#include "app/startup.hpp"

#include <windows.h>

namespace orvanta {

// The libraries the launcher imports beyond the KnownDLLs are delay-loaded (app/windows/
// delay_load.cmake): they are looked up at their first call, after this has run, and so in
// System32 only.
void prepareProcess() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace orvanta
