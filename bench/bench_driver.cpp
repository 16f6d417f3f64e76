// Runs one of the launcher's heavy operations the way the launcher runs it and reports how long
// it took and the process's peak resident memory:
//   orvanta-bench download URL DESTINATION [CA_BUNDLE]
//   orvanta-bench digest PATH
//   orvanta-bench download-digest URL DESTINATION [CA_BUNDLE]
//   orvanta-bench install MANIFEST_URL INSTALL_DIR [CA_BUNDLE]
//                                    installGameBuild, whatever is installed
//   orvanta-bench current MANIFEST_URL INSTALL_DIR    the check that finds the game current
// Output, one line: "<seconds> <peak RSS in KiB> <digest or ->" (install and current: "-", or
// the failure). Exit status 1 on failure.
#include "platform/http.hpp"
#include "platform/sha256.hpp"
#include "update/game_install.hpp"
#include "update/install.hpp"
#include "update/manifest.hpp"
#include "update/update_check.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <sys/resource.h>

namespace {

long peakRssKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool download(const std::string& url, const std::string& destination) {
    // The launcher's callback turns every chunk into a progress fraction; do the same work.
    volatile float fraction = 0.0f;
    return orvanta::downloadToFile(
        url, destination, [&fraction](std::uint64_t received, std::uint64_t total) {
            if (total != 0) {
                fraction = static_cast<float>(received) / static_cast<float>(total);
            }
        });
}

std::optional<orvanta::UpdateManifest> fetchManifest(const std::string& url) {
    const std::optional<orvanta::HttpResponse> response = orvanta::fetchText(url);
    if (!response || response->statusCode < 200 || response->statusCode > 299) {
        return std::nullopt;
    }
    return orvanta::parseManifest(response->body);
}

// Installs the manifest's build into directory the way the launcher's update does, leaving the
// decision to update out: whatever is installed there (or left over from a killed run) is only
// material the install may reuse. Answers the empty string or the failure.
std::string install(const std::string& manifestUrl, const std::string& directory) {
    const std::optional<orvanta::UpdateManifest> manifest = fetchManifest(manifestUrl);
    if (!manifest) {
        return "no-manifest";
    }
    volatile float fraction = 0.0f;
    const std::string failure = orvanta::installGameBuild(
        *manifest, orvanta::joinPath(directory, orvanta::gameExecutableName),
        orvanta::joinPath(directory, orvanta::versionFileName),
        [&fraction](std::uint64_t received, std::uint64_t total) {
            if (total != 0) {
                fraction = static_cast<float>(received) / static_cast<float>(total);
            }
        },
        {});
    return failure.empty() ? "" : "install-failed";
}

// The launcher's check when nothing is to do: manifest, version record, digest of the game.
std::string checkCurrent(const std::string& manifestUrl, const std::string& directory) {
    const std::optional<orvanta::UpdateManifest> manifest = fetchManifest(manifestUrl);
    if (!manifest) {
        return "no-manifest";
    }
    const std::string installed =
        orvanta::readTrimmedFile(orvanta::joinPath(directory, orvanta::versionFileName));
    const bool stale = orvanta::gameNeedsUpdate(
        orvanta::joinPath(directory, orvanta::gameExecutableName), installed, *manifest);
    return stale ? "not-current" : "";
}

int usage() {
    std::fprintf(stderr,
                 "usage: orvanta-bench download|download-digest URL DESTINATION "
                 "[CA_BUNDLE]\n       orvanta-bench digest PATH\n"
                 "       orvanta-bench install|current MANIFEST_URL INSTALL_DIR [CA_BUNDLE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string mode = argv[1];
    const auto started = std::chrono::steady_clock::now();
    std::string digest = "-";
    bool ok = false;
    if (mode == "digest" && argc == 3) {
        digest = orvanta::sha256File(argv[2]);
        ok = !digest.empty();
    } else if ((mode == "download" || mode == "download-digest") && (argc == 4 || argc == 5)) {
        if (argc == 5) {
            orvanta::httpLimits().caBundle = argv[4];
        }
        ok = download(argv[2], argv[3]);
        if (ok && mode == "download-digest") {
            digest = orvanta::sha256File(argv[3]);
            ok = !digest.empty();
        }
    } else if ((mode == "install" || mode == "current") && (argc == 4 || argc == 5)) {
        if (argc == 5) {
            orvanta::httpLimits().caBundle = argv[4];
        }
        const std::string failure =
            mode == "install" ? install(argv[2], argv[3]) : checkCurrent(argv[2], argv[3]);
        ok = failure.empty();
        if (!ok) {
            digest = failure;
        }
    } else {
        return usage();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    std::printf("%.6f %ld %s\n", elapsed.count(), peakRssKib(), digest.c_str());
    return ok ? 0 : 1;
}
