#pragma once

// A channel serving a build whole, as its chunk index and as its pack, for the chunk-install tests;
// the chunk files are made here from the format alone.
#include "platform/paths.hpp"
#include "platform/sha256.hpp"
#include "platform/staged_file.hpp"
#include "support/loopback_server.hpp"
#include "support/random_bytes.hpp"
#include "support/same_bytes.hpp"
#include "support/temp_dir.hpp"
#include "update/chunks/background_sha256.hpp"
#include "update/chunks/chunk_index.hpp"
#include "update/chunks/chunker.hpp"
#include "update/chunks/local_chunks.hpp"
#include "update/game_install.hpp"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <zstd.h>

namespace orvanta::test {

// Compressible, and cut by the chunker as real data is: runs of pseudo-random words.
inline std::string buildOf(std::size_t size, std::uint64_t seed) {
    const std::string noise = test::pseudoRandomBytes(size / 4 + 64, seed);
    std::string build;
    for (std::size_t i = 0; build.size() < size; ++i) {
        build += "w" + std::to_string(static_cast<unsigned char>(noise[i % noise.size()])) + " ";
    }
    build.resize(size);
    return build;
}

// The chunk files a publication writes for build, made here from the format alone.
struct ChunkFiles {
    std::string index;
    std::string pack;
};

inline ChunkFiles chunkFilesOf(const std::string& build) {
    ChunkFiles files;
    ChunkIndex index;
    index.buildSize = build.size();
    index.packName = "Orvanta-2.0.pack";
    const auto bytes =
        std::span(reinterpret_cast<const unsigned char*>(build.data()), build.size());
    for (const Chunk& cut : chunkBuffer(bytes)) {
        const std::string plain = build.substr(cut.offset, cut.length);
        std::string frame(ZSTD_compressBound(plain.size()), '\0');
        frame.resize(ZSTD_compress(frame.data(), frame.size(), plain.data(), plain.size(), 3));
        ChunkEntry entry;
        entry.length = cut.length;
        const Sha256Digest digest = *sha256Bytes(plain);
        std::copy_n(digest.begin(), entry.digest.size(), entry.digest.begin());
        const bool packed = frame.size() < plain.size();
        entry.storedLength = static_cast<std::uint32_t>(packed ? frame.size() : plain.size());
        files.pack += packed ? frame : plain;
        index.chunks.push_back(entry);
    }
    files.index = serializeChunkIndex(index);
    return files;
}

inline std::string hexOf(const std::string& bytes) {
    return digestHex(*sha256Bytes(bytes));
}

// The ranges that fetch exactly the chunks of files' build that installed lacks ("a-b"), one for
// each run of them side by side in the build, and the bytes they bring.
struct PackRequests {
    std::vector<std::string> ranges;
    std::uint64_t bytes = 0;

    // The Range header asking for all of them at once.
    std::string all() const {
        std::string header = "bytes=";
        for (const std::string& range : ranges) {
            header += (header.size() > 6 ? "," : "") + range;
        }
        return header;
    }
};

inline PackRequests requestsForChunksMissingFrom(const std::string& installed,
                                                 const ChunkFiles& files) {
    std::set<ChunkDigest> onDisk;
    const auto bytes =
        std::span(reinterpret_cast<const unsigned char*>(installed.data()), installed.size());
    for (const Chunk& cut : chunkBuffer(bytes)) {
        onDisk.insert(*chunkDigestOf(installed.substr(cut.offset, cut.length)));
    }
    const ChunkIndex index = *parseChunkIndex(files.index);
    const std::vector<std::uint64_t> offsets = chunkPackOffsets(index);
    PackRequests requests;
    for (std::size_t first = 0; first < index.chunks.size();) {
        std::size_t end = first;
        while (end < index.chunks.size() && !onDisk.contains(index.chunks[end].digest)) {
            ++end;
        }
        if (end > first) {
            requests.ranges.push_back(std::to_string(offsets[first]) + "-" +
                                      std::to_string(offsets[end] - 1));
            requests.bytes += offsets[end] - offsets[first];
        }
        first = std::max(end, first + 1);
    }
    return requests;
}

// Where the chunk that holds the build's byte at offset begins, in the build and in the pack.
struct ChunkAt {
    std::uint64_t start = 0;
    std::uint64_t packOffset = 0;
};

inline ChunkAt chunkAt(const ChunkFiles& files, std::uint64_t offset) {
    const ChunkIndex index = *parseChunkIndex(files.index);
    const std::vector<std::uint64_t> packOffsets = chunkPackOffsets(index);
    ChunkAt at;
    for (std::size_t i = 0; i < index.chunks.size(); ++i) {
        at.packOffset = packOffsets[i];
        if (offset < at.start + index.chunks[i].length) {
            break;
        }
        at.start += index.chunks[i].length;
    }
    return at;
}

// How the pack's server answers ranges: many in one request, one per request (a request for
// several gets the first alone, or 416 as Varnish answers it), or none (the whole pack with 200).
enum class RangeServer { many, one, oneElse416, none };

// Version 1.0 installed; the server holds 2.0 whole, its index and its pack. The pack answers
// ranges as rangeServer says and counts what it sends; it can be made to drop the connection after
// a budget. The server's threads read what is served from a copy taken under a lock when an install
// starts, so the cases may change the fixture's fields freely between installs.
class ChunkInstall : public testing::Test {
  public:
    struct Served {
        std::string build;
        std::string index;
        std::string pack;
        RangeServer rangeServer = RangeServer::many;
        std::vector<std::string> ranges; // the pack's Range headers, in order
    };

    void SetUp() override {
        server.server().Get("/Orvanta-2.0.exe",
                            [this](const httplib::Request&, httplib::Response& res) {
                                ++wholeRequests;
                                const std::lock_guard lock(servedLock);
                                res.set_content(served.build, "application/octet-stream");
                            });
        // Half the build under a Content-Length of the whole, then the connection drops.
        server.server().Get("/cut.exe", [this](const httplib::Request&, httplib::Response& res) {
            const std::lock_guard lock(servedLock);
            res.set_content_provider(
                served.build.size(), "application/octet-stream",
                [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    const std::lock_guard inner(servedLock);
                    const std::size_t half = served.build.size() / 2;
                    return offset < half && sink.write(served.build.data() + offset, half - offset);
                });
        });
        server.server().Get("/Orvanta-2.0.chunks",
                            [this](const httplib::Request&, httplib::Response& res) {
                                const std::lock_guard lock(servedLock);
                                res.set_content(served.index, "application/octet-stream");
                            });
        server.server().Get("/Orvanta-2.0.pack", [this](const httplib::Request& req,
                                                        httplib::Response& res) {
            const std::lock_guard lock(servedLock);
            if (served.rangeServer == RangeServer::none) {
                // The whole pack with 200, as a server that knows no ranges sends it.
                res.status = 200;
                res.set_chunked_content_provider(
                    "application/octet-stream", [this](std::size_t, httplib::DataSink& sink) {
                        const std::lock_guard inner(servedLock);
                        sink.write(served.pack.data(), served.pack.size());
                        sink.done();
                        return true;
                    });
                return;
            }
            ++packRequests;
            served.ranges.push_back(req.get_header_value("Range"));
            if (served.rangeServer == RangeServer::one && req.ranges.size() > 1) {
                serveFirstRangeAlone(req, res);
                return;
            }
            if (served.rangeServer == RangeServer::oneElse416 && req.ranges.size() > 1) {
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(served.pack.size()));
                return;
            }
            if (req.ranges.size() > 1) {
                serveManyRanges(req, res);
                return;
            }
            res.set_content_provider(
                served.pack.size(), "application/octet-stream",
                [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::lock_guard inner(servedLock);
                    return sendPackBytes(sink, offset, length) > 0;
                });
        });
        server.start();
        writeFile(exePath, oldBuild, true);
    }

    // The first range of a request for several, as a 206 of that range alone (httplib would make
    // it multipart: the body goes through a provider of its own).
    void serveFirstRangeAlone(const httplib::Request& req, httplib::Response& res) {
        const auto [from, to] = req.ranges.front();
        const auto first = std::min(static_cast<std::size_t>(from), served.pack.size());
        const std::string part =
            served.pack.substr(first, static_cast<std::size_t>(to) - first + 1);
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                            std::to_string(to) + "/" +
                                            std::to_string(served.pack.size()));
        res.set_chunked_content_provider("application/octet-stream",
                                         [part](std::size_t, httplib::DataSink& sink) {
                                             sink.write(part.data(), part.size());
                                             sink.done();
                                             return true;
                                         });
    }

    // Sends the pack's bytes from offset on, up to length, as far as the budget left allows;
    // how many it sent. A range past the pack's end (an index of another build asks for one;
    // httplib does not cut it to the file) stops at the end.
    std::size_t sendPackBytes(httplib::DataSink& sink, std::size_t offset, std::size_t length) {
        length = std::min(length, served.pack.size() - std::min(offset, served.pack.size()));
        const std::size_t budget = cutAfter.load();
        const std::size_t sent = packBytesSent.load();
        const std::size_t send = std::min(length, budget - std::min(budget, sent));
        packBytesSent += send;
        return send > 0 && sink.write(served.pack.data() + offset, send) ? send : 0;
    }

    // A multipart/byteranges answer, made here: httplib's own, for a body that comes from a
    // provider, names a total length of 0. The boundary is the one httplib puts in the headers.
    void serveManyRanges(const httplib::Request& req, httplib::Response& res) {
        res.status = 206;
        std::vector<std::pair<std::size_t, std::size_t>> parts;
        for (const auto& [from, to] : req.ranges) {
            parts.emplace_back(static_cast<std::size_t>(from),
                               static_cast<std::size_t>(to - from + 1));
        }
        res.set_chunked_content_provider(
            "application/octet-stream", [this, &res, parts](std::size_t, httplib::DataSink& sink) {
                const std::lock_guard inner(servedLock);
                const std::string type = res.get_header_value("Content-Type");
                const std::string boundary = type.substr(type.find("boundary=") + 9);
                for (const auto& [offset, length] : parts) {
                    const std::string head = "--" + boundary + "\r\nContent-Range: bytes " +
                                             std::to_string(offset) + "-" +
                                             std::to_string(offset + length - 1) + "/" +
                                             std::to_string(served.pack.size()) + "\r\n\r\n";
                    if (!sink.write(head.data(), head.size()) ||
                        sendPackBytes(sink, offset, length) < length || !sink.write("\r\n", 2)) {
                        return false;
                    }
                }
                const std::string close = "--" + boundary + "--\r\n";
                sink.write(close.data(), close.size());
                sink.done();
                return true;
            });
    }

    // The server's threads end before the payloads they read from are destroyed.
    void TearDown() override { server.stop(); }

    UpdateManifest manifest() {
        UpdateManifest m;
        m.game_version = "2.0";
        m.game_url = server.url("/Orvanta-2.0.exe");
        m.game_sha256 = hexOf(newBuild);
        m.game_size = newBuild.size();
        m.game_chunks_url = server.url("/Orvanta-2.0.chunks");
        m.game_chunks_sha256 = hexOf(indexServed);
        return m;
    }

    // Publishes build as 2.0.
    void serve(const std::string& build) {
        newBuild = build;
        files = chunkFilesOf(build);
        indexServed = files.index;
    }

    // Publishes the installed build with four bytes rewritten near its start.
    void serveSmallEdit() {
        std::string changed = oldBuild;
        changed.replace(100, 4, "EDIT");
        serve(changed);
    }

    std::string install(const UpdateManifest& m) {
        progress.clear();
        {
            const std::lock_guard lock(servedLock);
            served = Served{newBuild, indexServed, files.pack, rangeServer, {}};
        }
        return installGameBuild(m, exePath, dir.file("version.txt"),
                                [this](std::uint64_t inPlace, std::uint64_t total) {
                                    progress.emplace_back(inPlace, total);
                                },
                                {});
    }

    // The pack's Range headers of the last install.
    std::vector<std::string> packRanges() {
        const std::lock_guard lock(servedLock);
        return served.ranges;
    }

    void expectNewBuildInstalled() {
        EXPECT_TRUE(test::sameBytes(readFile(exePath), newBuild));
        EXPECT_FALSE(test::fileExists(downloadPath));
        EXPECT_EQ(readFile(dir.file("version.txt")), "2.0");
    }

  public:
    // The fault table's cases change these.
    test::TempDir dir;
    test::LoopbackServer server;
    std::string exePath = dir.file("Orvanta.exe");
    std::string downloadPath = exePath + ".download";
    std::string oldBuild = buildOf(3 << 20, 1);
    std::string newBuild;
    ChunkFiles files;
    std::string indexServed;
    RangeServer rangeServer = RangeServer::many;
    std::atomic<std::size_t> cutAfter{~std::size_t{0}};
    std::atomic<std::size_t> packBytesSent{0};
    std::atomic<int> packRequests{0};
    std::atomic<int> wholeRequests{0};
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    std::mutex servedLock;
    Served served;
};

} // namespace orvanta::test
