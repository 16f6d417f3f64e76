#pragma once

// What the publishing tests share: a request for a game file in a temporary folder, and the
// names a channel folder holds.
#include "publish/publish.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <set>
#include <string>

namespace orvanta::publish {

// The names in a channel folder other than the publications' lock file.
inline std::set<std::string> filesIn(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().filename() != lockFileName) {
            names.insert(entry.path().filename().string());
        }
    }
    return names;
}

// Publishes dir/game.exe into dir/out under https://cdn.example.test/games.
inline PublishRequest requestFor(const test::TempDir& dir, const std::string& version) {
    PublishRequest request;
    request.gamePath = dir.file("game.exe");
    request.version = version;
    request.baseUrl = "https://cdn.example.test/games/";
    request.outDirectory = dir.file("out");
    return request;
}

} // namespace orvanta::publish
