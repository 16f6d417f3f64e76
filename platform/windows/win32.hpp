#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <windows.h>

namespace orvanta {

// Helpers shared by the Windows services. Their files include this header before any other
// Windows header, which all build on windows.h.

// UTF-8 to UTF-16 for Windows calls, and back. Invalid input gives the empty string.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

// A Windows handle, closed when the scope ends, on every path.
struct Handle {
    explicit Handle(void* value = nullptr) : handle(value) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle();
    bool valid() const;
    void* release();

    void* handle;
};

// SHA-256 of everything in the open file, from its first byte, as lower-case hex; empty on any
// failure. Reads at explicit offsets, so the handle's position does not matter.
std::string sha256OfHandle(void* file);

// Reads up to size bytes of the open file from offset; fewer only at its end. Absent on an
// error. The handle's position moves: a later plain write must place it again.
std::optional<std::size_t> readAtOffset(void* file, std::uint64_t offset, char* data,
                                        std::size_t size);

} // namespace orvanta
