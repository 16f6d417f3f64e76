// orvanta-publish: puts a game build (and optionally a launcher build) into a download folder
// and writes the update manifest the launcher reads.

#include "publish/publish.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int exitPublishFailed = 1;
constexpr int exitUsage = 2;

constexpr const char* helpText =
    R"(Usage: orvanta-publish --game PATH --version TEXT --base-url URL --out DIR
                       [--changelog FILE] [--launcher PATH --launcher-version TEXT]
                       [--signing-key KEY.pem [--allow-clock-behind] [--expires-in DAYS]]
                       [--no-chunks]
       orvanta-publish resign --signing-key KEY.pem --out DIR [--expires-in DAYS]
                       [--allow-clock-behind]
       orvanta-publish prune --out DIR --keep N
       orvanta-publish keygen --out DIR

Publishes a game build for the Orvanta launcher. Writes DIR/orvanta-downloads/ with the game
file, its chunk files, and manifest.json, which announces them.
Serve DIR from any static web server or CDN so that BASE-URL/orvanta-downloads/manifest.json
is the address the launcher was built with (ORVANTA_MANIFEST_URL).

Options:
  --game PATH              the game executable to publish (required)
  --version TEXT           the build's version text, e.g. 1.4.2 (required); players whose
                           installed version differs get this build
  --base-url URL           http:// or https:// address under which DIR is served (required);
                           a trailing slash is ignored
  --out DIR                the folder to publish into (required); created when missing;
                           earlier builds' files in it are kept
  --changelog FILE         UTF-8 text shown to players in the launcher (optional)
  --launcher PATH          a launcher build to announce alongside (optional; needs
                           --launcher-version)
  --launcher-version TEXT  the launcher build's version text (with --launcher)
  --signing-key KEY.pem    sign the manifest: adds "published_at" and "channel" (the
                           manifest's address) and writes manifest.json.sig before the
                           manifest (launchers built with ORVANTA_MANIFEST_PUBLIC_KEYS
                           require it, for the address they were built with)
  --no-chunks              write no chunk files: launchers then always download the whole
                           game file
  --allow-clock-behind     with --signing-key: publish even though the channel's manifest is
                           dated later than this machine's clock (a past publication from a
                           clock set ahead); the new manifest is dated at this machine's
                           clock, and so is its expiry's start. Without it such a
                           publication is refused
  --expires-in DAYS        with --signing-key: add "expires_at", DAYS (1 to 36500) after
                           "published_at"; launchers with keys refuse the manifest after
                           that time, so publish or resign before it
  --help, -h               show this help and exit

Each option takes its value as the next argument or after '=' (--version=1.4.2).
The game file is copied to Orvanta-<version>-<digest>.exe, where <digest> is the first 12 hex
digits of its SHA-256. Unless --no-chunks is given, the game is also cut into chunks (about
16 KiB each), each compressed on its own into Orvanta-<version>-<digest>.pack (about a third of
the game's size for typical executables), and listed in Orvanta-<version>-<digest>.chunks, so
that launchers can fetch only the chunks that changed; the launcher file becomes
orvanta-launcher-<version>-<digest>. Every file but manifest.json and manifest.json.sig is
named after its contents and never rewritten, so caches and CDNs may keep them for good and a
version published again never changes a file a player is fetching. The manifest is written
last and atomically, so the server never announces a file that is not fully in place.
Earlier builds' files stay until pruned. One publication (resign, prune) at a time per
channel: another started meanwhile waits for it, locking
DIR/orvanta-downloads/.orvanta-publish.lock.

resign signs the channel's live manifest in DIR again with a new "published_at" (and, with
--expires-in, a new "expires_at"; without it the manifest no longer expires), leaving the
build's files and every other key of the manifest as they are.

prune removes the files that none of the last N publications (1 to 100, recorded in
DIR/orvanta-downloads/.orvanta-published) names, never a file the live manifest names.
Keep enough for a player who read an earlier manifest to finish fetching its build.

keygen --out DIR writes a new ECDSA P-256 key pair into DIR: orvanta-signing-key.pem, the
private key (mode 0600; keep it secret, pass it to --signing-key), and
orvanta-signing-key.pub.pem, the public key to build launchers with. It never replaces a key.

Exit status: 0 published, 1 publishing failed, 2 invalid command line.
)";

struct Option {
    std::string* target;
    bool required;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "orvanta-publish: %s (see --help)\n", message.c_str());
    return exitUsage;
}

// A number of days for --expires-in: decimal digits, 1 to 100 years.
std::optional<unsigned> parseDays(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long days = std::stoul(text);
    if (days < 1 || days > 36500) {
        return std::nullopt;
    }
    return static_cast<unsigned>(days);
}

using ValueOptions = std::map<std::string, std::string*, std::less<>>;

// Reads "--name VALUE" and "--name=VALUE" into options; the usage error (known saying which
// options the command takes), or the empty string.
std::string readOptions(const std::vector<std::string_view>& arguments, const ValueOptions& options,
                        const std::string& known) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const std::string_view name = argument.substr(0, argument.find('='));
        const auto option = options.find(name);
        if (option == options.end()) {
            return known + ", not: " + std::string(argument);
        }
        if (!option->second->empty()) {
            return "option given twice: " + std::string(name);
        }
        if (name.size() < argument.size()) {
            *option->second = std::string(argument.substr(name.size() + 1));
        } else if (i + 1 < arguments.size()) {
            *option->second = std::string(arguments[++i]);
        }
        if (option->second->empty()) {
            return "option " + std::string(name) + " needs a value";
        }
    }
    return {};
}

int resign(std::vector<std::string_view> arguments) {
    orvanta::publish::ResignRequest request;
    if (const auto flag = std::find(arguments.begin(), arguments.end(), "--allow-clock-behind");
        flag != arguments.end()) {
        arguments.erase(flag);
        request.allowClockBehind = true;
    }
    std::string days;
    const ValueOptions options = {{"--signing-key", &request.signingKeyPath},
                                  {"--out", &request.outDirectory},
                                  {"--expires-in", &days}};
    if (auto problem = readOptions(arguments, options,
                                   "resign takes --signing-key, --out, --expires-in and "
                                   "--allow-clock-behind");
        !problem.empty()) {
        return usageError(problem);
    }
    if (request.signingKeyPath.empty() || request.outDirectory.empty()) {
        return usageError("resign needs --signing-key KEY.pem and --out DIR");
    }
    if (!days.empty()) {
        const std::optional<unsigned> parsed = parseDays(days);
        if (!parsed) {
            return usageError("--expires-in takes a number of days from 1 to 36500: " + days);
        }
        request.expiresInDays = *parsed;
    }
    const orvanta::publish::PublishOutcome outcome = orvanta::publish::resignManifest(request);
    if (!outcome.error.empty()) {
        std::fprintf(stderr, "orvanta-publish: %s\n", outcome.error.c_str());
        return exitPublishFailed;
    }
    std::printf("Signed the manifest again (published_at %s): wrote %s and %s\n",
                outcome.result.publishedAt.c_str(), outcome.result.signaturePath.c_str(),
                outcome.result.manifestPath.c_str());
    return 0;
}

int prune(const std::vector<std::string_view>& arguments) {
    std::string out;
    std::string keep;
    const ValueOptions options = {{"--out", &out}, {"--keep", &keep}};
    if (auto problem = readOptions(arguments, options, "prune takes --out and --keep");
        !problem.empty()) {
        return usageError(problem);
    }
    if (out.empty() || keep.empty()) {
        return usageError("prune needs --out DIR and --keep N");
    }
    orvanta::publish::PruneRequest request;
    request.outDirectory = out;
    if (keep.size() > 3 || keep.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(keep) < 1 || std::stoul(keep) > orvanta::publish::maxRecordedPublications) {
        return usageError("--keep takes a number from 1 to 100: " + keep);
    }
    request.keep = static_cast<unsigned>(std::stoul(keep));
    const orvanta::publish::PruneOutcome outcome = orvanta::publish::pruneChannel(request);
    for (const std::string& name : outcome.removed) {
        std::printf("Removed %s\n", name.c_str());
    }
    if (!outcome.error.empty()) {
        std::fprintf(stderr, "orvanta-publish: %s\n", outcome.error.c_str());
        return exitPublishFailed;
    }
    std::printf("Removed %zu files (%llu bytes)\n", outcome.removed.size(),
                static_cast<unsigned long long>(outcome.removedBytes));
    return 0;
}

int keygen(const std::vector<std::string_view>& arguments) {
    std::string out;
    if (auto problem = readOptions(arguments, {{"--out", &out}}, "keygen takes only --out DIR");
        !problem.empty()) {
        return usageError(problem);
    }
    if (out.empty()) {
        return usageError("keygen needs --out DIR");
    }
    const orvanta::publish::KeygenOutcome outcome = orvanta::publish::writeSigningKeyPair(out);
    if (!outcome.error.empty()) {
        std::fprintf(stderr, "orvanta-publish: %s\n", outcome.error.c_str());
        return exitPublishFailed;
    }
    std::printf("Wrote the private key %s (keep it secret)\nWrote the public key %s (build "
                "launchers with -DORVANTA_MANIFEST_PUBLIC_KEYS=%s)\n",
                outcome.privateKeyPath.c_str(), outcome.publicKeyPath.c_str(),
                outcome.publicKeyPath.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    orvanta::publish::PublishRequest request;
    std::string expiresIn;
    const std::map<std::string, Option, std::less<>> options = {
        {"--game", {&request.gamePath, true}},
        {"--version", {&request.version, true}},
        {"--base-url", {&request.baseUrl, true}},
        {"--out", {&request.outDirectory, true}},
        {"--changelog", {&request.changelogPath, false}},
        {"--launcher", {&request.launcherPath, false}},
        {"--launcher-version", {&request.launcherVersion, false}},
        {"--signing-key", {&request.signingKeyPath, false}},
        {"--expires-in", {&expiresIn, false}},
    };

    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    for (std::string_view argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            std::fputs(helpText, stdout);
            return 0;
        }
    }
    if (!arguments.empty() && arguments.front() == "keygen") {
        return keygen({arguments.begin() + 1, arguments.end()});
    }
    if (!arguments.empty() && arguments.front() == "resign") {
        return resign({arguments.begin() + 1, arguments.end()});
    }
    if (!arguments.empty() && arguments.front() == "prune") {
        return prune({arguments.begin() + 1, arguments.end()});
    }

    // The options without a value.
    struct Flag {
        std::string_view name;
        bool* target;
        bool value;
    };
    for (const Flag& flag : {Flag{"--no-chunks", &request.chunks, false},
                             Flag{"--allow-clock-behind", &request.allowClockBehind, true}}) {
        if (const auto found = std::find(arguments.begin(), arguments.end(), flag.name);
            found != arguments.end()) {
            arguments.erase(found);
            if (std::find(arguments.begin(), arguments.end(), flag.name) != arguments.end()) {
                return usageError("option given twice: " + std::string(flag.name));
            }
            *flag.target = flag.value;
        }
    }

    std::map<std::string, bool, std::less<>> seen;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument.substr(0, 2) != "--") {
            return usageError("unexpected argument: " + std::string(argument));
        }
        std::string_view name = argument;
        std::optional<std::string> value;
        if (const auto equals = argument.find('='); equals != std::string_view::npos) {
            name = argument.substr(0, equals);
            value = std::string(argument.substr(equals + 1));
        }
        const auto option = options.find(name);
        if (option == options.end()) {
            return usageError("unknown option: " + std::string(name));
        }
        if (seen[std::string(name)]) {
            return usageError("option given twice: " + std::string(name));
        }
        seen[std::string(name)] = true;
        if (!value) {
            if (i + 1 >= arguments.size()) {
                return usageError("option " + std::string(name) + " needs a value");
            }
            value = std::string(arguments[++i]);
        }
        *option->second.target = *value;
    }

    std::string missing;
    for (const auto& [name, option] : options) {
        if (option.required && !seen[name]) {
            missing += (missing.empty() ? "" : ", ") + name;
        }
    }
    if (!missing.empty()) {
        return usageError("missing required option" +
                          std::string(missing.find(',') == std::string::npos ? " " : "s ") +
                          missing);
    }

    if (request.launcherPath.empty() != request.launcherVersion.empty() ||
        seen["--launcher"] != seen["--launcher-version"]) {
        return usageError("--launcher and --launcher-version must be given together");
    }

    if (seen["--expires-in"]) {
        const std::optional<unsigned> days = parseDays(expiresIn);
        if (!days) {
            return usageError("--expires-in takes a number of days from 1 to 36500: " + expiresIn);
        }
        request.expiresInDays = *days;
    }

    const orvanta::publish::PublishOutcome outcome = orvanta::publish::publishBuild(request);
    if (!outcome.error.empty()) {
        std::fprintf(stderr, "orvanta-publish: %s\n", outcome.error.c_str());
        return exitPublishFailed;
    }
    const auto& manifest = outcome.result.manifest;
    std::printf("Published game %s as %s\n  sha256 %s\n", manifest.game_version.c_str(),
                manifest.game_url.c_str(), manifest.game_sha256.c_str());
    if (!manifest.game_chunks_url.empty()) {
        std::printf("Published %zu chunks (pack %llu bytes) indexed in %s\n  sha256 %s\n",
                    outcome.result.chunkCount,
                    static_cast<unsigned long long>(outcome.result.packBytes),
                    manifest.game_chunks_url.c_str(), manifest.game_chunks_sha256.c_str());
    }
    if (!manifest.launcher_url.empty()) {
        std::printf("Published launcher %s as %s\n  sha256 %s\n", manifest.launcher_version.c_str(),
                    manifest.launcher_url.c_str(), manifest.launcher_sha256.c_str());
    }
    if (!outcome.result.signaturePath.empty()) {
        std::printf("Signed the manifest (published_at %s): wrote %s\n",
                    outcome.result.publishedAt.c_str(), outcome.result.signaturePath.c_str());
    }
    std::printf("Wrote %s\nLaunchers built with ORVANTA_MANIFEST_URL=%s will install it.\n",
                outcome.result.manifestPath.c_str(), outcome.result.manifestUrl.c_str());
    return 0;
}
