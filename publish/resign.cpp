#include "platform/small_file.hpp"
#include "publish/publish.hpp"
#include "update/signed_manifest.hpp"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <utility>

namespace orvanta::publish {

PublishOutcome resignManifest(const ResignRequest& request) {
    PublishOutcome outcome;
    auto fail = [&outcome](std::string error) {
        outcome.error = std::move(error);
        return outcome;
    };

    const SigningKey key = readSigningKey(request.signingKeyPath);
    if (!key.error.empty()) {
        return fail(key.error);
    }
    const std::string channel =
        (std::filesystem::path(request.outDirectory) / channelFolderName).string();
    const std::string nothingToSign = "no signed manifest in " + channel +
                                      " to sign again: publish a build with --signing-key first";
    std::error_code ec;
    if (!std::filesystem::is_directory(channel, ec)) {
        return fail(nothingToSign);
    }
    // Held until the new manifest is in place, like a release's.
    ChannelLock lock;
    if (auto error = lock.acquire(channel); !error.empty()) {
        return fail(error);
    }
    const std::string manifestPath = channel + "/" + manifestFileName;
    const std::string signaturePath = channel + "/" + signatureFileName;
    const std::string previous = readWholeFile(manifestPath).value_or(std::string());
    const std::optional<UpdateManifest> parsed = parseManifest(previous);
    // Only a signed manifest knows its own address; an unsigned channel needs a signed publish.
    const std::string address = manifestChannel(previous);
    if (!parsed || address.empty() || parsed->game_sha256.empty()) {
        return fail(nothingToSign);
    }
    const PublicationTimes times =
        publicationTimes(previous, request.now, request.allowClockBehind, request.expiresInDays);
    if (!times.error.empty()) {
        return fail(times.error);
    }

    // Every other key stays as it was, in its place.
    nlohmann::ordered_json document = nlohmann::ordered_json::parse(previous, nullptr, false);
    document["published_at"] = times.publishedAt;
    if (times.expiresAt.empty()) {
        document.erase("expires_at");
    } else {
        document["expires_at"] = times.expiresAt;
    }
    const std::string manifestText =
        document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";

    if (auto error =
            writeSignatureFile(signaturePath, manifestText, key, request.signingKeyPath, previous);
        !error.empty()) {
        return fail(error);
    }
    if (auto error = writeFileAtomically(manifestPath, manifestText); !error.empty()) {
        return fail(error);
    }

    const std::string written = readWholeFile(manifestPath).value_or(std::string());
    const std::string signatures =
        readSmallFile(signaturePath, maxSignatureFileBytes).value_or(std::string());
    if (written != manifestText || !signatureFileVerifies(signatures, written, key.publicKeyPem)) {
        return fail("the signature read back from " + signaturePath +
                    " does not verify the manifest");
    }
    outcome.result.manifest = *parseManifest(written);
    outcome.result.channelDirectory = channel;
    outcome.result.manifestPath = manifestPath;
    outcome.result.signaturePath = signaturePath;
    outcome.result.publishedAt = times.publishedAt;
    outcome.result.manifestUrl = address;
    return outcome;
}

} // namespace orvanta::publish
