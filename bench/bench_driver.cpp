// Runs one of the launcher's heavy operations the way the launcher runs it and reports how long
// it took and the process's peak resident memory:
//   orvanta-bench download URL DESTINATION [CA_BUNDLE]
//   orvanta-bench digest PATH
//   orvanta-bench download-digest URL DESTINATION [CA_BUNDLE]
// Output, one line: "<seconds> <peak RSS in KiB> <digest or ->". Exit status 1 on failure.
#include "platform/http.hpp"
#include "platform/sha256.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
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

int usage() {
    std::fprintf(stderr, "usage: orvanta-bench download|download-digest URL DESTINATION "
                         "[CA_BUNDLE]\n       orvanta-bench digest PATH\n");
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
    } else {
        return usage();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    std::printf("%.6f %ld %s\n", elapsed.count(), peakRssKib(), digest.c_str());
    return ok ? 0 : 1;
}
