// Runs the built orvanta-publish program as a studio would.

#include "publish_fixture.hpp"
#include "support/temp_dir.hpp"
#include "update/manifest.hpp"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orvanta {
namespace {

using test::fileExists;
using test::readFile;
using test::TempDir;
using test::writeFile;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

RunResult runPublish(const TempDir& dir, const std::vector<std::string>& arguments) {
    const std::string outPath = dir.file("stdout.txt");
    const std::string errPath = dir.file("stderr.txt");
    std::vector<std::string> argv = {ORVANTA_PUBLISH_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> cArgv;
    for (auto& argument : argv) {
        cArgv.push_back(argument.data());
    }
    cArgv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(cArgv[0], cArgv.data());
        _exit(127);
    }
    RunResult result;
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

TEST(PublishProgram, PublishesAndTellsTheManifestAddress) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    writeFile(dir.file("changes.txt"), "New crops.\n");
    const RunResult run = runPublish(dir, {"--game", dir.file("game.exe"), "--version=3.1",
                                           "--base-url", "https://127.0.0.1:9443/", "--changelog",
                                           dir.file("changes.txt"), "--out=" + dir.file("site")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("https://127.0.0.1:9443/orvanta-downloads/manifest.json"),
              std::string::npos);
    const auto parsed = parseManifest(readFile(dir.file("site/orvanta-downloads/manifest.json")));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->game_url,
              "https://127.0.0.1:9443/orvanta-downloads/Orvanta-3.1-ba7816bf8f01.exe");
    EXPECT_EQ(parsed->changelog, "New crops.");
    EXPECT_EQ(readFile(dir.file("site/orvanta-downloads/Orvanta-3.1-ba7816bf8f01.exe")), "abc");
}

TEST(PublishProgram, WritesChunkFilesUnlessToldNotTo) {
    struct Case {
        std::vector<std::string> extra;
        bool chunks;
    };
    for (const Case& c : {Case{{}, true}, Case{{"--no-chunks"}, false}}) {
        TempDir dir;
        writeFile(dir.file("game.exe"), "abc");
        std::vector<std::string> arguments = {
            "--game",     dir.file("game.exe"),       "--version=3.1",
            "--base-url", "https://cdn.example.test", "--out=" + dir.file("site")};
        arguments.insert(arguments.begin() + 2, c.extra.begin(), c.extra.end());
        const RunResult run = runPublish(dir, arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::string channel = dir.file("site/orvanta-downloads/");
        const auto parsed = parseManifest(readFile(channel + "manifest.json"));
        ASSERT_TRUE(parsed.has_value());
        const std::string index = orvanta::publish::digestNamed(channel, "Orvanta-3.1", ".chunks");
        EXPECT_EQ(index.empty(), !c.chunks);
        EXPECT_EQ(orvanta::publish::digestNamed(channel, "Orvanta-3.1", ".pack").empty(),
                  !c.chunks);
        EXPECT_EQ(parsed->game_chunks_url,
                  c.chunks ? "https://cdn.example.test/orvanta-downloads/" + index : "");
        EXPECT_EQ(run.out.find(".chunks") != std::string::npos, c.chunks) << run.out;
    }
}

TEST(PublishProgram, HelpDescribesEveryOption) {
    TempDir dir;
    const RunResult run = runPublish(dir, {"--game", "x", "--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--game", "--version", "--base-url", "--changelog", "--launcher ",
                               "--launcher-version", "--out", "--no-chunks", "--signing-key",
                               "--allow-clock-behind", "--expires-in", "resign", "--help"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
    }
}

TEST(PublishProgram, RejectsBadInputWithOneLineAndNoManifest) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    writeFile(dir.file("empty.exe"), "");
    writeFile(dir.file("plain-file"), "x");
    const std::string game = dir.file("game.exe");
    const std::string out = dir.file("site");
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"--base-url", "https://cdn.example.test"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    };

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string message;
    };
    const std::vector<Case> cases = {
        {with({"--game", dir.file("missing.exe"), "--version", "1", "--out", out}), 1,
         "game file not found: " + dir.file("missing.exe")},
        {with({"--game", dir.path(), "--version", "1", "--out", out}), 1,
         "game file is not a regular file"},
        {with({"--game", dir.file("empty.exe"), "--version", "1", "--out", out}), 1,
         "game file is empty"},
        {with({"--game", game, "--version", "", "--out", out}), 1, "version must not be empty"},
        {with({"--game", game, "--version", "1.0 ", "--out", out}), 1, "white space"},
        {{"--game", game, "--version", "1", "--base-url", "ftp://cdn.example.test", "--out", out},
         1,
         "base URL must start with http:// or https://"},
        {with({"--game", game, "--version", "1", "--out", dir.file("plain-file/site")}), 1,
         "cannot create output folder"},
        {with(
             {"--game", game, "--version", "1", "--out", out, "--changelog", dir.file("none.txt")}),
         1, "changelog file not found"},
        {with({"--game", game, "--version", "1", "--out", out, "--launcher", game}), 2,
         "--launcher and --launcher-version must be given together"},
        {with({"--game", game, "--version", "1", "--out", out, "--launcher-version", "1"}), 2,
         "--launcher and --launcher-version must be given together"},
        {with({"--game", game, "--version", "1", "--out", out, "--verbose"}), 2,
         "unknown option: --verbose"},
        {with({"--game", game, "--version", "1", "--out", out, "stray"}), 2,
         "unexpected argument: stray"},
        {with({"--game", game, "--version", "1", "--version", "2", "--out", out}), 2,
         "option given twice: --version"},
        {with({"--game", game, "--version", "1", "--out"}), 2, "option --out needs a value"},
        {with({"--game", game}), 2, "missing required options --out, --version"},
        {{}, 2, "missing required options --base-url, --game, --out, --version"},
        {with({"--game", game, "--version", "1", "--out", out, "--signing-key", game}), 1,
         "signing key is not an unencrypted PEM ECDSA P-256 private key"},
        {with({"--game", game, "--version", "1", "--out", out, "--no-chunks", "--no-chunks"}), 2,
         "option given twice: --no-chunks"},
        {with({"--game", game, "--version", "1", "--out", out, "--no-chunks=yes"}), 2,
         "unknown option: --no-chunks"},
        {with({"--game", game, "--version", "1", "--out", out, "--expires-in", "0"}), 2,
         "--expires-in takes a number of days from 1 to 36500: 0"},
        {with({"--game", game, "--version", "1", "--out", out, "--expires-in", "7d"}), 2,
         "--expires-in takes a number of days"},
        {with({"--game", game, "--version", "1", "--out", out, "--expires-in", "7"}), 1,
         "--expires-in needs --signing-key"},
        {{"resign", "--out", out}, 2, "resign needs --signing-key KEY.pem and --out DIR"},
        {{"resign", "--out", out, "--version", "1"}, 2, "resign takes --signing-key"},
        {{"resign", "--out", out, "--signing-key",
          std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/studio-a.pem"},
         1,
         "no signed manifest in"},
        {{"keygen"}, 2, "keygen needs --out DIR"},
        {{"keygen", "--out", dir.path(), "--force"}, 2, "keygen takes only --out DIR"},
        {{"prune", "--out", out}, 2, "prune needs --out DIR and --keep N"},
        {{"prune", "--out", out, "--keep", "0"}, 2, "--keep takes a number from 1 to 100"},
        {{"prune", "--out", out, "--keep=1", "--keep=2"}, 2, "option given twice: --keep"},
        {{"prune", "--out", out, "--keep", "1"}, 1, "no channel in"},
    };
    for (const Case& c : cases) {
        const RunResult run = runPublish(dir, c.arguments);
        std::string shown;
        for (const auto& argument : c.arguments) {
            shown += argument + " ";
        }
        EXPECT_EQ(run.exitCode, c.exitCode) << shown;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << shown << "\n" << run.err;
        EXPECT_EQ(run.err.rfind("orvanta-publish: ", 0), 0u) << run.err;
        // One line: the only newline ends it.
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.out, "") << shown;
        EXPECT_FALSE(fileExists(out + "/orvanta-downloads/manifest.json")) << shown;
    }

    // Permission checks do not apply to root.
    if (::geteuid() != 0) {
        writeFile(dir.file("locked.exe"), "abc");
        ::chmod(dir.file("locked.exe").c_str(), 0);
        const RunResult run = runPublish(
            dir, with({"--game", dir.file("locked.exe"), "--version", "1", "--out", out}));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("cannot read game file"), std::string::npos) << run.err;

        std::filesystem::create_directories(dir.file("readonly"));
        ::chmod(dir.file("readonly").c_str(), 0555);
        const RunResult denied = runPublish(
            dir, with({"--game", game, "--version", "1", "--out", dir.file("readonly")}));
        EXPECT_EQ(denied.exitCode, 1);
        EXPECT_NE(denied.err.find("cannot create output folder"), std::string::npos) << denied.err;
    }
}

} // namespace
} // namespace orvanta
