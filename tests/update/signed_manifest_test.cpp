// A launcher carrying keys against a signed channel: which manifest it accepts, and what that does
// to the record of the newest accepted publication. Signatures were made by openssl (see
// tests/data/signing), so each platform's verifier is checked against an independent signer.
#include "platform/signature.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "update/manifest.hpp"
#include "update/signed_manifest.hpp"

#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace orvanta::test {
namespace {

std::string data(const std::string& name) {
    return readFile(std::string(ORVANTA_TEST_DATA) + "/signing/" + name);
}

const std::string newManifest = data("manifest-new.json");
const std::string oldManifest = data("manifest-old.json");
const std::string noDigestManifest = data("manifest-no-digest.json");
const std::string futureManifest = data("manifest-future.json"); // dated 2099
const std::string noChannelManifest = data("manifest-no-channel.json");
const std::string expiringManifest = data("manifest-expiring.json"); // expires in 2099
const std::string expiredManifest = data("manifest-expired.json");
const std::string badExpiryManifest = data("manifest-bad-expiry.json");
const std::string newByA = data("manifest-new.json.a.sig");
const std::string newByB = data("manifest-new.json.b.sig");
const std::string newByStranger = data("manifest-new.json.stranger.sig");
const std::string oldByA = data("manifest-old.json.a.sig");
const std::string noDigestByA = data("manifest-no-digest.json.a.sig");
const std::string futureByA = data("manifest-future.json.a.sig");
const std::string noChannelByA = data("manifest-no-channel.json.a.sig");
const std::string expiringByA = data("manifest-expiring.json.a.sig");
const std::string expiredByA = data("manifest-expired.json.a.sig");
const std::string badExpiryByA = data("manifest-bad-expiry.json.a.sig");
// The channel the signed test manifests name.
const std::string cdnChannel = "https://cdn.example.test/orvanta-downloads/manifest.json";
const std::string keyA = data("studio-a.pub.pem");
const std::string keyB = data("studio-b.pub.pem");
constexpr const char* newTime = "2024-06-02T09:30:00Z";
constexpr const char* oldTime = "2024-06-01T18:00:00Z";

std::string withoutNewline(std::string line) {
    line.pop_back();
    return line;
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

struct Row {
    const char* name;
    std::string manifest;
    std::string signatureFile;
    int status = 200; // -1: the server is down when the signature file is fetched
    std::vector<std::string> keys = {keyA};
    std::string recordBefore; // empty: no record
    bool accepted = false;
    bool recordsNow = false; // the record afterwards holds the clock's time, not published_at
    std::string channel = cdnChannel; // the address the launcher was built with
};

TEST(SignedManifest, AcceptsOnlyASignedCurrentManifestAndKeepsTheRecord) {
    std::string tampered = newManifest;
    tampered[tampered.find("1.1")] = '2';
    std::string nonBase64 = newByA;
    nonBase64[10] = '*';
    const std::vector<Row> rows = {
        {"valid", newManifest, newByA, 200, {keyA}, "", true},
        {"valid without final newline", newManifest, withoutNewline(newByA), 200, {keyA}, "", true},
        {"valid with CR LF", newManifest, withoutNewline(newByA) + "\r\n", 200, {keyA}, "", true},
        {"one manifest byte changed", tampered, newByA, 200, {keyA}, "", false},
        {"signed by another key", newManifest, newByStranger, 200, {keyA}, "", false},
        {"truncated", newManifest, newByA.substr(0, 60), 200, {keyA}, "", false},
        {"empty", newManifest, "", 200, {keyA}, "", false},
        {"not base64", newManifest, nonBase64, 200, {keyA}, "", false},
        {"blank line", newManifest, newByA + "\n", 200, {keyA}, "", false},
        {"a bad line after a good one", newManifest, newByA + "c2ln\n", 200, {keyA}, "", false},
        {"oversized",
         newManifest,
         repeated(newByA, maxSignatureFileBytes / newByA.size() + 1),
         200,
         {keyA},
         "",
         false},
        {"no signature file", newManifest, newByA, 404, {keyA}, "", false},
        {"server down for it", newManifest, newByA, -1, {keyA}, "", false},
        {"second key of two", newManifest, newByB, 200, {keyA, keyB}, "", true},
        {"old manifest during a publish", oldManifest, newByA + oldByA, 200, {keyA}, "", true},
        {"replayed older manifest", oldManifest, oldByA, 200, {keyA}, newTime, false},
        {"same manifest again", newManifest, newByA, 200, {keyA}, newTime, true},
        {"newer than the record", newManifest, newByA, 200, {keyA}, oldTime, true},
        {"damaged record", newManifest, newByA, 200, {keyA}, "yesterday", true},
        {"signed without game_sha256", noDigestManifest, noDigestByA, 200, {keyA}, "", false},
        {"dated in the future", futureManifest, futureByA, 200, {keyA}, "", true, true},
        {"record later than the clock",
         futureManifest,
         futureByA,
         200,
         {keyA},
         "2099-06-01T00:00:00Z",
         true,
         true},
        {"older than a record later than the clock",
         newManifest,
         newByA,
         200,
         {keyA},
         "2099-06-01T00:00:00Z",
         false},
        {"no channel", noChannelManifest, noChannelByA, 200, {keyA}, "", false},
        {"not yet expired", expiringManifest, expiringByA, 200, {keyA}, "", true},
        {"expired", expiredManifest, expiredByA, 200, {keyA}, "", false},
        {"malformed expiry", badExpiryManifest, badExpiryByA, 200, {keyA}, "", false},
        {"another channel",
         newManifest,
         newByA,
         200,
         {keyA},
         "",
         false,
         false,
         "https://cdn.example.test/beta/orvanta-downloads/manifest.json"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string record = dir.file(publishedAtFileName);
        if (!row.recordBefore.empty()) {
            writeFile(record, row.recordBefore);
        }
        int requests = 0;
        LoopbackServer server;
        server.server().Get("/manifest.json.sig",
                            [&](const httplib::Request&, httplib::Response& res) {
                                ++requests;
                                res.status = row.status;
                                res.set_content(row.signatureFile, "text/plain");
                            });
        server.start();
        if (row.status == -1) {
            server.stop();
        }
        const auto parsed = parseManifest(row.manifest);
        ASSERT_TRUE(parsed.has_value());

        const std::string before = publishedAtNow();
        EXPECT_EQ(acceptSignedManifest(server.url("/manifest.json"), row.channel, row.manifest,
                                       *parsed, row.keys, record),
                  row.accepted);
        const std::string after = publishedAtNow();
        EXPECT_EQ(requests, row.status == -1 ? 0 : 1);
        const std::string published = manifestPublishedAt(row.manifest);
        const std::string recorded = fileExists(record) ? readFile(record) : std::string();
        if (row.recordsNow) {
            EXPECT_GE(recorded, before);
            EXPECT_LE(recorded, after);
        } else {
            EXPECT_EQ(recorded, row.accepted ? published : row.recordBefore);
        }
    }
}

// The verifier alone: only a P-256 public key in PEM form verifies anything.
TEST(SignedManifest, VerifiesOnlyWithAP256PublicKey) {
    const std::string signature = parseSignatureFile(newByA).value().front();
    EXPECT_TRUE(verifySignature(newManifest, signature, keyA));
    EXPECT_FALSE(verifySignature(newManifest, signature, keyB));
    EXPECT_FALSE(verifySignature(newManifest, signature, data("p384.pub.pem")));
    EXPECT_FALSE(verifySignature(newManifest, signature, data("studio-a.pem"))); // private
    EXPECT_FALSE(verifySignature(newManifest, signature, "not a key"));
    EXPECT_FALSE(verifySignature(newManifest, signature.substr(1), keyA));
    EXPECT_EQ(encodeSignatureLine(signature) + "\n", newByA);
}

TEST(SignedManifest, PublicationTimesAreStrictUtcSeconds) {
    for (const char* valid : {"2024-06-02T09:30:00Z", "2024-02-29T23:59:60Z"}) {
        EXPECT_TRUE(isPublishedAt(valid)) << valid;
    }
    for (const char* invalid :
         {"", "2024-06-02 09:30:00Z", "2024-06-02T09:30:00+00:00", "2024-06-02T09:30:00.5Z",
          "2023-02-29T00:00:00Z", "2024-13-01T00:00:00Z", "2024-06-02t09:30:00z",
          "2024-06-02T24:00:00Z", " 2024-06-02T09:30:00Z"}) {
        EXPECT_FALSE(isPublishedAt(invalid)) << invalid;
    }
    EXPECT_EQ(formatPublishedAt(*publishedAtTime("2024-02-29T23:59:59Z") + std::chrono::seconds(1)),
              "2024-03-01T00:00:00Z");
    EXPECT_TRUE(isPublishedAt(publishedAtNow()));
}

} // namespace
} // namespace orvanta::test
