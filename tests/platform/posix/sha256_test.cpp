#include "platform/sha256.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orvanta {
namespace {

TEST(Sha256File, AFifoGivesEmptyText) {
    test::TempDir dir;
    // A FIFO in the game's place would block a plain open for ever.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    EXPECT_EQ(sha256File(dir.file("fifo")), "");
}

} // namespace
} // namespace orvanta
