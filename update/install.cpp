#include "update/install.hpp"

#include "platform/paths.hpp"
#include "platform/small_file.hpp"

namespace orvanta {

namespace {

constexpr std::size_t maxRecordBytes = 4096;

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

std::string resolveInstallDirectory() {
    const std::optional<std::string> folder = localDataFolder();
    return folder ? joinPath(*folder, "Orvanta") : std::string("Orvanta");
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) {
        return name;
    }
    const char last = directory.back();
    if (last == '/' || last == '\\') {
        return directory + name;
    }
    return directory + pathSeparator + name;
}

std::string readTrimmedFile(const std::string& path) {
    // The launcher never writes a record anywhere near this size: a larger file is damaged.
    const std::string text = readSmallFile(path, maxRecordBytes).value_or(std::string());
    std::size_t begin = 0;
    while (begin < text.size() && isWhiteSpace(text[begin])) {
        ++begin;
    }
    std::size_t end = text.size();
    while (end > begin && isWhiteSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool writeTextFile(const std::string& path, const std::string& text) {
    return replaceFile(path, text);
}

} // namespace orvanta
