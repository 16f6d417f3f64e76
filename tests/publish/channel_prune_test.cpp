#include "publish/publish.hpp"
#include "publish_fixture.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace orvanta::publish {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

std::uintmax_t bytesIn(const std::string& channel) {
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(channel)) {
        total += entry.is_regular_file() ? entry.file_size() : 0;
    }
    return total;
}

PruneOutcome prune(const TempDir& dir, unsigned keep) {
    return pruneChannel(PruneRequest{dir.file("out"), keep});
}

TEST(PruneChannel, RemovesOnlyFilesNoRecentPublicationNorTheLiveManifestNames) {
    TempDir dir;
    const std::string channel = dir.file("out/orvanta-downloads");
    writeFile(dir.file("launcher"), "launcher build");
    for (const char* contents : {"one", "two", "three", "three, again"}) {
        writeFile(dir.file("game.exe"), contents);
        PublishRequest request = requestFor(dir, contents[0] == 't' ? "1.2" : "1.0");
        request.launcherPath = dir.file("launcher");
        request.launcherVersion = "5";
        ASSERT_EQ(publishBuild(request).error, "") << contents;
    }
    // A file from before names carried digests, and files that are not the publisher's.
    writeFile(channel + "/Orvanta-0.9.exe", "old");
    writeFile(channel + "/notes.txt", "studio notes");
    std::filesystem::create_directory(channel + "/Orvanta-folder");
    const std::string restore = readFile(channel + "/manifest.json");

    // The last two publications: both 1.2 builds and the launcher they share.
    const std::uintmax_t bytesBefore = bytesIn(channel);
    PruneOutcome pruned = prune(dir, 2);
    ASSERT_EQ(pruned.error, "");
    EXPECT_EQ(pruned.removed.size(), 7u);
    EXPECT_EQ(pruned.removedBytes, bytesBefore - bytesIn(channel));
    EXPECT_EQ(shapesIn(channel),
              (std::set<std::string>{"Orvanta-1.2-*.exe", "Orvanta-1.2-*.pack",
                                     "Orvanta-1.2-*.chunks", "orvanta-launcher-5-*", "notes.txt",
                                     "Orvanta-folder", "manifest.json"}));
    EXPECT_EQ(filesIn(channel).size(), 10u);

    // A studio rolls back by putting an earlier manifest live again; with the record gone too,
    // the live manifest alone keeps that build, its pack included.
    ASSERT_EQ(prune(dir, 1).error, "");
    EXPECT_EQ(filesIn(channel).size(), 7u);
    writeFile(dir.file("game.exe"), "four");
    ASSERT_EQ(publishBuild(requestFor(dir, "1.3")).error, "");
    writeFile(channel + "/manifest.json", restore);
    std::filesystem::remove(channel + "/" + publicationRecordName);
    pruned = prune(dir, 1);
    ASSERT_EQ(pruned.error, "");
    EXPECT_EQ(shapesIn(channel),
              (std::set<std::string>{"Orvanta-1.2-*.exe", "Orvanta-1.2-*.pack",
                                     "Orvanta-1.2-*.chunks", "orvanta-launcher-5-*", "notes.txt",
                                     "Orvanta-folder", "manifest.json"}));

    // Nothing goes when the live manifest or its chunk index cannot be read.
    writeFile(dir.file("game.exe"), "five");
    ASSERT_EQ(publishBuild(requestFor(dir, "1.4")).error, "");
    const std::set<std::string> before = filesIn(channel);
    const std::string index = digestNamed(channel, "Orvanta-1.4", ".chunks");
    writeFile(channel + "/" + index, "damaged");
    EXPECT_NE(prune(dir, 1).error.find("cannot read the live chunk index"), std::string::npos);
    writeFile(channel + "/manifest.json", "{");
    EXPECT_NE(prune(dir, 1).error.find("cannot read the live manifest"), std::string::npos);
    EXPECT_EQ(filesIn(channel), before);
}

} // namespace
} // namespace orvanta::publish
