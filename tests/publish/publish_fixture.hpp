#pragma once

// What the publishing tests share: a request for a game file in a temporary folder, and the
// names a channel folder holds.
#include "publish/publish.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <set>
#include <string>

namespace orvanta::publish {

// The names in a channel folder other than the publications' lock file and record.
inline std::set<std::string> filesIn(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name != lockFileName && name != publicationRecordName) {
            names.insert(name);
        }
    }
    return names;
}

// The name with a content digest ("-" and 12 hex digits before the extension or at the end)
// shown as '*': "Orvanta-1.0-*.exe".
inline std::string shapeOf(std::string name) {
    for (std::size_t dash = name.find('-'); dash != std::string::npos;
         dash = name.find('-', dash + 1)) {
        const std::size_t end = dash + 1 + digestInFileName;
        if (end <= name.size() && (end == name.size() || name[end] == '.') &&
            name.substr(dash + 1, digestInFileName).find_first_not_of("0123456789abcdef") ==
                std::string::npos) {
            return name.replace(dash + 1, digestInFileName, "*");
        }
    }
    return name;
}

inline std::set<std::string> shapesIn(const std::string& directory) {
    std::set<std::string> shapes;
    for (const std::string& name : filesIn(directory)) {
        shapes.insert(shapeOf(name));
    }
    return shapes;
}

// The one file of directory named stem, a digest and extension; empty when none or several.
inline std::string digestNamed(const std::string& directory, const std::string& stem,
                               const std::string& extension) {
    std::string found;
    for (const std::string& name : filesIn(directory)) {
        if (name.size() == stem.size() + 1 + digestInFileName + extension.size() &&
            name.starts_with(stem + "-") && name.ends_with(extension) &&
            name.substr(stem.size() + 1, digestInFileName).find_first_not_of("0123456789abcdef") ==
                std::string::npos) {
            if (!found.empty()) {
                return {};
            }
            found = name;
        }
    }
    return found;
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
