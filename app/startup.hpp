#pragma once

namespace orvanta {

// What the process sets up before anything else runs. On Windows every library loaded from then
// on comes from System32 only, so a DLL placed beside the launcher or in its working folder is
// never picked up; on Linux there is nothing to do.
void prepareProcess();

} // namespace orvanta
