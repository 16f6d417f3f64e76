// The signature file a signed channel serves beside its manifest, fetched from the network. Any
// bytes must give a list of signatures or nothing; the answer must be the one a reader of the
// file's grammar written here gives (lines of exactly 88 canonical base64 characters, LF or CR LF
// between them, at most 4 KiB), each signature must be what a decoder written here reads from its
// line, and the publishing tool's encoding of the signatures must give the lines back.
#include "platform/signature.hpp"
#include "update/signed_manifest.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

constexpr std::size_t lineLength = 88;

bool isBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// 64 bytes are 512 bits: 85 full letters, one letter carrying 2 bits whose 4 unused bits are zero
// (A, Q, g or w), then "==". That is the only spelling of a signature.
bool isSignatureLine(const std::string& text, std::size_t at) {
    if (text.size() - at < lineLength) {
        return false;
    }
    for (std::size_t i = 0; i < 85; ++i) {
        if (!isBase64Letter(text[at + i])) {
            return false;
        }
    }
    const char last = text[at + 85];
    return (last == 'A' || last == 'Q' || last == 'g' || last == 'w') && text[at + 86] == '=' &&
           text[at + 87] == '=';
}

// Where each line starts when text is a valid signature file; absent when it is not.
std::optional<std::vector<std::size_t>> grammarLines(const std::string& text) {
    if (text.empty() || text.size() > orvanta::maxSignatureFileBytes) {
        return std::nullopt;
    }
    std::vector<std::size_t> starts;
    std::size_t at = 0;
    while (at < text.size()) {
        if (!isSignatureLine(text, at)) {
            return std::nullopt;
        }
        starts.push_back(at);
        at += lineLength;
        if (at == text.size()) {
            break;
        }
        if (text[at] == '\n') {
            at += 1;
        } else if (text.compare(at, 2, "\r\n") == 0) {
            at += 2;
        } else {
            return std::nullopt;
        }
    }
    return starts;
}

// A decoder of its own, group by group with a lookup in the alphabet (the parser shifts bits
// through an accumulator instead); the padding's zero bytes are dropped.
std::string decodeLine(const std::string& line) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    for (std::size_t group = 0; group < line.size(); group += 4) {
        std::uint32_t value = 0;
        for (std::size_t i = group; i < group + 4; ++i) {
            const char* letter = line[i] == '=' ? alphabet : std::strchr(alphabet, line[i]);
            require(letter != nullptr && *letter != '\0');
            value = (value << 6) | static_cast<std::uint32_t>(letter - alphabet);
        }
        for (int shift = 16; shift >= 0; shift -= 8) {
            bytes += static_cast<char>((value >> shift) & 0xFFu);
        }
    }
    return bytes.substr(0, orvanta::signatureSize);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::vector<std::string>> parsed = orvanta::parseSignatureFile(text);
    const std::optional<std::vector<std::size_t>> lines = grammarLines(text);
    require(parsed.has_value() == lines.has_value());

    if (parsed) {
        require(parsed->size() == lines->size());
        for (std::size_t i = 0; i < parsed->size(); ++i) {
            const std::string& signature = (*parsed)[i];
            const std::string line = text.substr((*lines)[i], lineLength);
            require(signature.size() == orvanta::signatureSize);
            require(signature == decodeLine(line));
            require(orvanta::encodeSignatureLine(signature) == line);
        }
    }

    // The other way round: the first 64 bytes as a signature, as the publishing tool writes it,
    // read back alone and beside itself.
    if (size >= orvanta::signatureSize) {
        const std::string signature = text.substr(0, orvanta::signatureSize);
        const std::string line = orvanta::encodeSignatureLine(signature);
        require(line.size() == lineLength);
        const auto one = orvanta::parseSignatureFile(line + "\n");
        require(one && one->size() == 1 && one->front() == signature);
        const auto two = orvanta::parseSignatureFile(line + "\r\n" + line);
        require(two && two->size() == 2 && two->back() == signature);
    }
    return 0;
}
