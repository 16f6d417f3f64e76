#pragma once

#include "platform/sha256.hpp"

#include <gtest/gtest.h>
#include <string>

namespace orvanta::test {

// Payloads compared by size and SHA-256: a failure prints two sizes and two digests, never a
// diff of the bytes (a line diff of a few megabytes can take more memory than the machine has).
inline testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    const auto digestOf = [](const std::string& bytes) {
        const auto digest = sha256Bytes(bytes);
        return digest ? digestHex(*digest) : std::string("(no digest)");
    };
    const std::string actualDigest = digestOf(actual);
    const std::string expectedDigest = digestOf(expected);
    if (actual.size() == expected.size() && actualDigest == expectedDigest) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << actual.size() << " bytes, SHA-256 " << actualDigest << "; expected "
           << expected.size() << " bytes, SHA-256 " << expectedDigest;
}

} // namespace orvanta::test
