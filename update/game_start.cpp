#include "update/game_start.hpp"

#include "platform/process.hpp"

namespace orvanta {

bool launchGame(const std::string& path) {
    return startDetachedProcess(path);
}

} // namespace orvanta
