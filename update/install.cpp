#include "update/install.hpp"

#include "platform/small_file.hpp"

#include <cstdlib>

namespace orvanta {

namespace {

constexpr std::size_t maxRecordBytes = 4096;

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

std::string resolveInstallDirectory() {
    const std::string dataHome = environmentValue("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome.front() == '/') {
        return joinPath(dataHome, "Orvanta");
    }
    const std::string home = environmentValue("HOME");
    if (!home.empty()) {
        return joinPath(joinPath(home, ".local/share"), "Orvanta");
    }
    return "Orvanta";
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) {
        return name;
    }
    const char last = directory.back();
    if (last == '/' || last == '\\') {
        return directory + name;
    }
    return directory + "/" + name;
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
