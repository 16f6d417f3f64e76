#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvanta::test {

// Bytes that look random to a content-defined chunker but are the same on every run.
inline std::string pseudoRandomBytes(std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = seed;
    for (char& byte : bytes) {
        // xorshift64*: enough variety for chunk boundaries, and dependency-free.
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        byte = static_cast<char>((state * 0x2545F4914F6CDD1DULL) >> 56);
    }
    return bytes;
}

} // namespace orvanta::test
