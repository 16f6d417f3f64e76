#pragma once

#include "platform/header_text.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

// The boundary a Content-Type value names when it is multipart/byteranges (type and parameter
// names compared ignoring case; the boundary may be quoted); none for any other type, or a
// boundary that is empty, over 70 characters, or holds characters RFC 2046 does not allow.
std::optional<std::string> byterangesBoundary(std::string_view contentType);

// The body of a 206 multipart/byteranges answer to a request for several ranges, read as it
// arrives. Strict: every part must be exactly one of the asked ranges, each asked range comes at
// most once, and the framing must be RFC 2046's to the byte (CRLF line ends). Memory stays within
// the asked ranges' total plus small constants, whatever the body holds.
class MultipartRanges {
  public:
    using Write = std::function<bool(const char* data, std::size_t size)>;

    // asked: the ranges the request named, ascending, neither overlapping nor adjacent. write
    // receives the bytes of the asked ranges concatenated in the asked order, each byte exactly
    // once, whatever order the server sends its parts in. A part that arrives ahead of its turn
    // is held until its turn. An asked list or boundary that breaks these rules makes every body
    // malformed.
    MultipartRanges(std::vector<ByteRange> asked, std::string boundary, Write write);

    // Takes the next piece of the body (any size, split anywhere). False once the body is not the
    // answer asked for or write returned false; every later call returns false too.
    bool feed(const char* data, std::size_t size);
    // The closing delimiter arrived and every asked range was handed to write whole.
    bool complete() const { return state_ == State::closed; }
    // The body is not a well-formed answer for the asked ranges (as against write refusing, or a
    // body that stops short).
    bool malformed() const { return malformed_; }

  private:
    enum class State {
        preamble,  // up to the first delimiter
        padding,   // after "--boundary": spaces or tabs, then CRLF or "--"
        lineFeed,  // the LF of the CRLF after a delimiter
        closeDash, // the second '-' of a close delimiter
        headers,   // a part's header lines
        body,      // a part's bytes
        delimiter, // "\r\n--boundary" after a part
        closed,    // the close delimiter arrived with every range: the epilogue is ignored
        stopped,   // nothing more is taken
    };

    void step(char c);
    void headerLine();
    std::size_t takeBody(const char* data, std::size_t size);
    void stop(bool malformed);

    std::vector<ByteRange> asked_;
    std::string delimiter_; // "\r\n--" and the boundary
    Write write_;
    State state_ = State::preamble;
    bool malformed_ = false;
    std::size_t matched_ = 0;  // bytes of delimiter_ matched so far
    std::size_t preamble_ = 0; // bytes taken before the first delimiter
    std::size_t padding_ = 0;
    std::string line_; // the header line being read
    std::size_t headerBytes_ = 0;
    std::size_t headerLines_ = 0;
    std::optional<std::size_t> part_; // index in asked_ of the part being read
    std::uint64_t remaining_ = 0;     // of the part's bytes
    std::size_t parts_ = 0;           // parts whose headers were read
    std::size_t next_ = 0;            // the first asked range write has not had whole
    std::vector<bool> arrived_;
    std::vector<std::string> held_; // parts that came ahead of their turn
};

} // namespace orvanta
