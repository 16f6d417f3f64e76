#include "update/install.hpp"

#include "platform/paths.hpp"
#include "platform/remove_tree.hpp"
#include "platform/small_file.hpp"
#include "platform/staged_file.hpp"

#include <filesystem>
#include <optional>

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

// Written to path + ".new", flushed, then renamed over path: a reader sees the old record or the
// new one, and a link at path is replaced, never written through.
bool writeTextFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    // A leftover from an interrupted write, of whatever kind, goes first; a link or junction
    // planted there goes without what it points at.
    std::error_code ignored;
    removeTree(nativePath(temporary), ignored);

    StagedFile staged;
    if (!staged.create(temporary)) {
        return false;
    }
    if (!staged.write(text.data(), text.size()) || !staged.flush() || !staged.moveTo(path)) {
        staged.discard();
        return false;
    }
    return true;
}

namespace {

// The leftover goes when this process can hold it; absent when another launcher holds it.
std::optional<bool> discardHeldLeftover(const std::string& path) {
    StagedFile leftover;
    if (leftover.resume(path)) {
        leftover.discard();
        return true;
    }
    return leftover.busy() ? std::optional(false) : std::nullopt;
}

} // namespace

bool clearDownloadName(const std::string& path) {
    if (const std::optional<bool> held = discardHeldLeftover(path)) {
        return *held;
    }
    removeTree(nativePath(path));
    return true;
}

bool clearDownloadName(const std::string& path, std::error_code& error) {
    error.clear();
    if (const std::optional<bool> held = discardHeldLeftover(path)) {
        return *held;
    }
    removeTree(nativePath(path), error);
    return !error;
}

} // namespace orvanta
