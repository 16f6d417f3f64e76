// A strict reader of JSON text (RFC 8259) written apart from the JSON library the launcher uses,
// so that the manifest fuzz target can check parseManifest against something that does not share
// its blind spots. It decides whether a text is valid and, for a manifest, what the eleven keys of
// the top-level object hold. Slow and plain on purpose: one byte at a time, no tables.
//
// What it refuses: anything outside the grammar (comments, trailing commas, single quotes, bare
// words, "01", "1.", ".5", "+1"); a byte below 0x20 inside a string, and a NUL byte anywhere;
// bytes that are not UTF-8 (overlong forms, UTF-16 surrogates, code points above U+10FFFF, stray
// or missing continuation bytes); escapes other than the nine of the grammar; a \u escape naming
// half of a surrogate pair without its other half; a name given twice in one object, compared
// after escapes are decoded; anything but white space after the value.
//
// Choices where the RFC leaves room, made the way the launcher's library makes them:
// - A UTF-8 byte-order mark is skipped when it is the very first thing in the text (RFC 8259
//   section 8.1 allows this); anywhere else it is an error like any other non-ASCII byte outside
//   a string.
// - Numbers are limited to the range of a double (section 9 allows limits): a number whose value
//   rounds beyond the largest finite double, however it is written (1e400, or an integer of 400
//   digits), makes the text invalid. A value too small to represent rounds to zero and is fine.
//   Rounding is done by the C library's strtod, in the "C" locale the fuzz target runs in.
// - Nesting has no limit other than memory: the reader keeps its own stack instead of recursing,
//   just as the library does, so deep documents are judged on their grammar alone.
// - "\u0000" is a valid escape and gives a NUL character in the decoded string.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace json_oracle {

// The manifest's keys: those holding text in the order of UpdateManifest's members, then from
// firstSizeKey on those holding a size in bytes.
inline constexpr std::array<std::string_view, 11> manifestKeys{
    "game_version",       "game_url",         "game_sha256",  "game_chunks_url",
    "game_chunks_sha256", "launcher_version", "launcher_url", "launcher_sha256",
    "changelog",          "game_size",        "launcher_size"};
inline constexpr std::size_t firstSizeKey = 9;

using ManifestFields = std::array<std::string, manifestKeys.size()>;

// What one reading of a whole text found.
struct Reading {
    bool valid = false;       // strict JSON by the rules above
    bool objectOnTop = false; // the value is an object (meaningful when valid)
    // For each manifest key on the top-level object: whether it is there, whether its value is a
    // string, and that string decoded.
    std::array<bool, manifestKeys.size()> present{};
    std::array<bool, manifestKeys.size()> isString{};
    ManifestFields strings;
};

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    Reading read() {
        Reading reading;
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos_ = 3;
        }
        skipSpace();
        reading.objectOnTop = !atEnd() && text_[pos_] == '{';

        std::vector<Frame> open; // the objects and arrays the reader is inside, outermost first
        for (;;) {
            // A value starts here.
            skipSpace();
            if (atEnd()) {
                return reading;
            }
            const char first = text_[pos_];
            bool isString = false;
            std::string string;
            if (first == '{' || first == '[') {
                ++pos_;
                open.push_back(Frame{first == '{', {}, {}});
                skipSpace();
                if (take(first == '{' ? '}' : ']')) {
                    open.pop_back(); // empty: a whole value already
                } else if (first == '[') {
                    continue; // its first element
                } else if (readName(open.back())) {
                    continue; // its first member's value
                } else {
                    return reading;
                }
            } else if (first == '"') {
                if (!readString(string)) {
                    return reading;
                }
                isString = true;
            } else if (!readWord("true") && !readWord("false") && !readWord("null") &&
                       !readNumber()) {
                return reading;
            }

            // A value has ended. Give it to the container around it and go on with that one,
            // closing containers as long as their closing bracket follows.
            for (;;) {
                if (open.empty()) {
                    skipSpace();
                    reading.valid = atEnd();
                    return reading;
                }
                Frame& frame = open.back();
                if (open.size() == 1 && frame.object) {
                    record(reading, frame.name, isString, std::move(string));
                }
                skipSpace();
                if (take(',')) {
                    if (frame.object) {
                        skipSpace();
                        if (!readName(frame)) {
                            return reading;
                        }
                    }
                    break; // the next value
                }
                if (!take(frame.object ? '}' : ']')) {
                    return reading;
                }
                open.pop_back();
                isString = false; // what just ended is the container itself
                string.clear();
            }
        }
    }

  private:
    struct Frame {
        bool object = false;
        std::set<std::string> names; // of an object: every name seen in it so far
        std::string name;            // of an object: the name of the member being read
    };

    static void record(Reading& reading, const std::string& name, bool isString,
                       std::string string) {
        for (std::size_t i = 0; i < manifestKeys.size(); ++i) {
            if (name == manifestKeys[i]) {
                reading.present[i] = true;
                reading.isString[i] = isString;
                reading.strings[i] = std::move(string);
            }
        }
    }

    bool atEnd() const { return pos_ >= text_.size(); }

    unsigned char byte() const { return static_cast<unsigned char>(text_[pos_]); }

    bool take(char c) {
        if (!atEnd() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    bool takeDigits() {
        const std::size_t start = pos_;
        while (!atEnd() && isDigit(text_[pos_])) {
            ++pos_;
        }
        return pos_ > start;
    }

    void skipSpace() {
        while (!atEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' ||
                            text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    bool readWord(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) {
            return false;
        }
        pos_ += word.size();
        return true;
    }

    // A member's name, the colon after it, and a check that the object has not had it before.
    bool readName(Frame& frame) {
        std::string name;
        if (atEnd() || text_[pos_] != '"' || !readString(name)) {
            return false;
        }
        skipSpace();
        if (!take(':') || !frame.names.insert(name).second) {
            return false;
        }
        frame.name = std::move(name);
        return true;
    }

    bool readNumber() {
        const std::size_t start = pos_;
        take('-');
        if (take('0')) {
            // a leading zero stands alone
        } else if (atEnd() || text_[pos_] < '1' || text_[pos_] > '9' || !takeDigits()) {
            return false;
        }
        if (take('.') && !takeDigits()) {
            return false;
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            if (!takeDigits()) {
                return false;
            }
        }
        const std::string number(text_.substr(start, pos_ - start));
        return !std::isinf(std::strtod(number.c_str(), nullptr));
    }

    // From the opening quote to past the closing one; out receives the decoded text as UTF-8.
    bool readString(std::string& out) {
        ++pos_;
        for (;;) {
            if (atEnd()) {
                return false;
            }
            const unsigned char b = byte();
            if (b == '"') {
                ++pos_;
                return true;
            }
            if (b < 0x20) {
                return false;
            }
            if (b == '\\') {
                if (!readEscape(out)) {
                    return false;
                }
            } else if (b < 0x80) {
                out += static_cast<char>(b);
                ++pos_;
            } else if (!readMultiByte(out)) {
                return false;
            }
        }
    }

    bool readEscape(std::string& out) {
        ++pos_;
        if (atEnd()) {
            return false;
        }
        const char c = text_[pos_++];
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out += c;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        std::uint32_t unit = 0;
        if (!readHex4(unit) || (unit >= 0xDC00 && unit <= 0xDFFF)) {
            return false;
        }
        std::uint32_t codePoint = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!readWord("\\u") || !readHex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            codePoint = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, codePoint);
        return true;
    }

    bool readHex4(std::uint32_t& value) {
        for (int i = 0; i < 4; ++i) {
            if (atEnd()) {
                return false;
            }
            const char c = text_[pos_++];
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return false;
            }
            value = value * 16 + digit;
        }
        return true;
    }

    // One character of two to four bytes: decoded to check it, then copied as it stands.
    bool readMultiByte(std::string& out) {
        const unsigned char lead = byte();
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        std::uint32_t smallest = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1Fu;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0Fu;
            smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07u;
            smallest = 0x10000;
        } else {
            return false; // a continuation byte, or a lead byte no UTF-8 has
        }
        if (text_.size() - pos_ < length) {
            return false;
        }
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text_[pos_ + i]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (codePoint < smallest || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        out.append(text_.substr(pos_, length));
        pos_ += length;
        return true;
    }

    static void appendUtf8(std::string& out, std::uint32_t codePoint) {
        const auto put = [&out](std::uint32_t byteValue) {
            out += static_cast<char>(static_cast<unsigned char>(byteValue));
        };
        if (codePoint < 0x80) {
            put(codePoint);
        } else if (codePoint < 0x800) {
            put(0xC0 | (codePoint >> 6));
            put(0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            put(0xE0 | (codePoint >> 12));
            put(0x80 | ((codePoint >> 6) & 0x3F));
            put(0x80 | (codePoint & 0x3F));
        } else {
            put(0xF0 | (codePoint >> 18));
            put(0x80 | ((codePoint >> 12) & 0x3F));
            put(0x80 | ((codePoint >> 6) & 0x3F));
            put(0x80 | (codePoint & 0x3F));
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

inline Reading read(std::string_view text) {
    return Reader(text).read();
}

// The fields exactly when the text is a manifest: valid, an object on top, every one of the keys
// that is there holding a string, every size there decimal digits alone no greater than 2^64 - 1,
// game_version and game_url not empty. A size is given without leading zeros, empty when absent.
inline std::optional<ManifestFields> readManifest(std::string_view text) {
    Reading reading = read(text);
    if (!reading.valid || !reading.objectOnTop) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < manifestKeys.size(); ++i) {
        if (reading.present[i] && !reading.isString[i]) {
            return std::nullopt;
        }
    }
    for (std::size_t i = firstSizeKey; i < manifestKeys.size(); ++i) {
        std::string& size = reading.strings[i];
        if (!reading.present[i]) {
            continue;
        }
        if (size.empty() || size.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        size.erase(0, std::min(size.find_first_not_of('0'), size.size() - 1));
        // Compared as text, which orders digit strings of one length as numbers.
        if (size.size() > 20 || (size.size() == 20 && size > "18446744073709551615")) {
            return std::nullopt;
        }
    }
    if (reading.strings[0].empty() || reading.strings[1].empty()) {
        return std::nullopt;
    }
    return reading.strings;
}

} // namespace json_oracle
