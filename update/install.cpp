#include "update/install.hpp"

#include <array>
#include <cstdlib>
#include <fstream>

namespace orvanta {

namespace {

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
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return {};
    }
    // Stream reads, unlike stream buffer iterators, turn a read error (a folder, an I/O
    // fault) into a failed state instead of an exception.
    std::string text;
    std::array<char, 4096> chunk{};
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        return false;
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return !out.fail();
}

} // namespace orvanta
