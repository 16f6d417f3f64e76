#include "platform/multipart_ranges.hpp"

#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvanta {
namespace {

// The file the ranges are cut from, and the ranges most rows ask for: "0123", "abcdefghij", "uv".
const std::string file = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::vector<ByteRange> three = {{0, 3}, {10, 19}, {30, 31}};
const std::string nginx = "00000000000000000042";
const std::string closing = "\r\n--" + nginx + "--\r\n";

// One part as nginx frames it, carrying the file's bytes first to last.
std::string part(std::uint64_t first, std::uint64_t last, const std::string& total = "62") {
    const std::string range = std::to_string(first) + "-" + std::to_string(last);
    return "\r\n--" + nginx +
           "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " + range + "/" +
           total + "\r\n\r\n" + file.substr(first, last - first + 1);
}

// The headers of a part on their own, the part's bytes to follow.
std::string head(const std::string& lines) {
    return "\r\n--" + nginx + "\r\n" + lines + "\r\n";
}

std::string fillers(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += "X-Filler: a\r\n";
    }
    return lines;
}

std::string withoutLast(const std::string& body, std::size_t count) {
    return body.substr(0, body.size() - count);
}

// The three parts in order, the first with the given transport padding after its delimiter.
std::string padded(std::size_t spaces) {
    return "--" + nginx + std::string(spaces, ' ') + "\r\nContent-Range: bytes 0-3/62\r\n\r\n0123" +
           part(10, 19) + part(30, 31) + closing;
}

const std::string all = "0123abcdefghijuv";

struct Row {
    const char* name;
    std::string body;
    std::string written; // all that write took
    bool complete;
    bool malformed;
    bool takesAll = true; // every feed returned true
    std::vector<ByteRange> asked = three;
    std::string boundary = nginx;
    char refused = '\0'; // write refuses a piece holding this byte
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

struct Outcome {
    std::string written;
    bool takesAll = true;
    bool complete = false;
    bool malformed = false;
};

// Feeds the body in pieces ending at the given offsets, then the rest.
Outcome run(const Row& row, const std::vector<std::size_t>& cuts) {
    Outcome outcome;
    MultipartRanges parser(row.asked, row.boundary, [&](const char* data, std::size_t size) {
        if (row.refused != '\0' && std::string(data, size).find(row.refused) != std::string::npos) {
            return false;
        }
        outcome.written.append(data, size);
        return true;
    });
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        outcome.takesAll = parser.feed(row.body.data() + at, cut - at) && outcome.takesAll;
        at = cut;
    }
    outcome.takesAll = parser.feed(row.body.data() + at, row.body.size() - at) && outcome.takesAll;
    outcome.complete = parser.complete();
    outcome.malformed = parser.malformed();
    return outcome;
}

class MultipartRangesTest : public testing::TestWithParam<Row> {};

// Every body in one piece, a byte at a time, and in two pieces split at each offset: the outcome
// never depends on how the body arrives.
TEST_P(MultipartRangesTest, GivesTheAskedBytesOrRefusesTheBody) {
    const Row& row = GetParam();
    std::vector<std::vector<std::size_t>> splits = {{}};
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 1; cut < row.body.size(); ++cut) {
        splits.push_back({cut});
        everyByte.push_back(cut);
    }
    splits.push_back(everyByte);
    for (const auto& cuts : splits) {
        const Outcome outcome = run(row, cuts);
        const std::string how = "in " + std::to_string(cuts.size() + 1) + " pieces" +
                                (cuts.size() == 1 ? ", cut at " + std::to_string(cuts[0]) : "");
        EXPECT_EQ(outcome.written, row.written) << how;
        EXPECT_EQ(outcome.complete, row.complete) << how;
        EXPECT_EQ(outcome.malformed, row.malformed) << how;
        EXPECT_EQ(outcome.takesAll, row.takesAll) << how;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, MultipartRangesTest,
    testing::Values(
        Row{"in_order", part(0, 3) + part(10, 19) + part(30, 31) + closing, all, true, false},
        Row{"out_of_order_held", part(30, 31) + part(0, 3) + part(10, 19) + closing, all, true,
            false},
        Row{"reversed", part(30, 31) + part(10, 19) + part(0, 3) + closing, all, true, false},
        Row{"adjacent_parts_bare_framing",
            "--" + nginx + "\r\ncontent-range: bytes 0-3/*\r\n\r\n0123\r\n--" + nginx +
                " \t\r\nCONTENT-RANGE:bytes 10-19/20\r\n\r\nabcdefghij\r\n--" + nginx +
                "\r\nContent-Range: BYTES 30-31/*\r\n\r\nuv\r\n--" + nginx + "--",
            all, true, false},
        Row{"payload_like_a_delimiter",
            "--b\r\nContent-Range: bytes 0-8/9\r\n\r\n\r\n--b--\r\n\r\n--b--",
            "\r\n--b--\r\n",
            true,
            false,
            true,
            {{0, 8}},
            "b"},
        Row{"preamble_and_epilogue",
            "preamble text\r\n-x\r" + part(0, 3) + part(10, 19) + part(30, 31) + closing + "--junk",
            all, true, false},
        Row{"preamble_at_most", std::string(1024, 'p') + "\r\n" + padded(0), all, true, false},
        Row{"preamble_too_long", std::string(1025, 'p') + "\r\n" + padded(0), "", false, true,
            false},
        Row{"repeated", part(0, 3) + part(0, 3) + part(10, 19) + part(30, 31) + closing, "0123",
            false, true, false},
        Row{"overlapping", part(0, 3) + part(2, 5) + closing, "0123", false, true, false},
        Row{"outside_the_request", part(40, 45) + closing, "", false, true, false},
        Row{"coalesced", part(0, 19) + part(30, 31) + closing, "", false, true, false},
        Row{"coalesced_later", part(0, 3) + part(10, 31) + closing, "0123", false, true, false},
        Row{"wrong_boundary", "\r\n--000000000000000000\r\n" + part(0, 3).substr(26), "", false,
            true, false},
        Row{"boundary_longer", "\r\n--" + nginx + "7\r\nContent-Range: bytes 0-3/62\r\n\r\n0123",
            "", false, true, false},
        Row{"missing_delimiter_between_parts",
            part(0, 3) + "\r\nContent-Range: bytes 10-19/62\r\n\r\nabcdefghij" + closing, "0123",
            false, true, false},
        Row{"other_boundary_between_parts",
            part(0, 3) + "\r\n--00000000000000000043" + part(10, 19).substr(24), "0123", false,
            true, false},
        Row{"missing_boundary", "Content-Range: bytes 0-3/62\r\n\r\n" + std::string(1100, 'x'), "",
            false, true, false},
        Row{"padding_at_most", padded(64), all, true, false},
        Row{"boundary_line_too_long", padded(65), "", false, true, false},
        Row{"bytes_after_delimiter", "--" + nginx + "x\r\n", "", false, true, false},
        Row{"padding_before_close",
            part(0, 3) + part(10, 19) + part(30, 31) + "\r\n--" + nginx + " --", all, false, true,
            false},
        Row{"close_before_any_part", "--" + nginx + "--\r\n", "", false, true, false},
        Row{"part_longer_than_range", part(0, 3) + "4" + part(10, 19) + closing, "0123", false,
            true, false},
        Row{"truncated_part", withoutLast(part(0, 3) + part(10, 19), 3), "0123abcdefg", false,
            false},
        Row{"truncated_held_part", part(10, 19) + withoutLast(part(0, 3), 2), "01", false, false},
        Row{"no_close_delimiter", part(0, 3) + part(10, 19) + part(30, 31), all, false, false},
        Row{"closed_with_a_range_missing", part(0, 3) + part(30, 31) + closing, "0123", false,
            false, false},
        Row{"headers_at_most",
            head(fillers(15) + "Content-Range: bytes 0-3/62\r\n") + "0123" + part(10, 19) +
                part(30, 31) + closing,
            all, true, false},
        Row{"header_bomb", head(fillers(16) + "Content-Range: bytes 0-3/62\r\n") + "0123", "",
            false, true, false},
        Row{"header_line_too_long",
            head("X-Filler: " + std::string(2100, 'a') + "\r\nContent-Range: bytes 0-3/62\r\n"), "",
            false, true, false},
        Row{"no_content_range", head("Content-Type: text/plain\r\n") + "0123", "", false, true,
            false},
        Row{"two_content_ranges",
            head("Content-Range: bytes 0-3/62\r\nContent-Range: bytes 0-3/62\r\n") + "0123", "",
            false, true, false},
        Row{"total_not_past_range", part(0, 3, "3"), "", false, true, false},
        Row{"bare_line_feed", "\r\n--" + nginx + "\r\nContent-Range: bytes 0-3/62\n\r\n0123", "",
            false, true, false},
        Row{"folded_header", head("Content-Range: bytes 0-3/62\r\n folded: yes\r\n") + "0123", "",
            false, true, false},
        Row{"header_without_colon", head("Content-Range bytes 0-3/62\r\n") + "0123", "", false,
            true, false},
        Row{"write_refuses_streamed", part(0, 3) + part(10, 19) + part(30, 31) + closing, "0123",
            false, false, false, three, nginx, 'a'},
        Row{"write_refuses_held", part(30, 31) + part(0, 3) + part(10, 19) + closing,
            "0123abcdefghij", false, false, false, three, nginx, 'u'},
        Row{"asked_adjacent",
            part(0, 3) + part(4, 9) + closing,
            "",
            false,
            true,
            false,
            {{0, 3}, {4, 9}}},
        Row{"boundary_invalid", "--a!b\r\n", "", false, true, false, three, "a!b"}),
    [](const testing::TestParamInfo<Row>& tested) { return std::string(tested.param.name); });

struct BoundaryRow {
    std::string contentType;
    std::optional<std::string> boundary;
};

void PrintTo(const BoundaryRow& row, std::ostream* out) {
    *out << row.contentType;
}

class ByterangesBoundaryTest : public testing::TestWithParam<BoundaryRow> {};

TEST_P(ByterangesBoundaryTest, NamesTheBoundaryOfByterangesOnly) {
    EXPECT_EQ(byterangesBoundary(GetParam().contentType), GetParam().boundary);
}

INSTANTIATE_TEST_SUITE_P(
    ContentTypes, ByterangesBoundaryTest,
    testing::Values(
        BoundaryRow{"multipart/byteranges; boundary=" + nginx, nginx},
        BoundaryRow{"Multipart/ByteRanges;BOUNDARY=abc", "abc"},
        BoundaryRow{"multipart/byteranges; charset=\"x;y\"; boundary=\"a b:c\" ", "a b:c"},
        BoundaryRow{"multipart/byteranges ;boundary=\"x\\yz\"\t; q=1", "xyz"},
        BoundaryRow{"multipart/byteranges; boundary=" + std::string(70, '7'), std::string(70, '7')},
        BoundaryRow{"multipart/byteranges; boundary=" + std::string(71, '7'), std::nullopt},
        BoundaryRow{"multipart/byteranges", std::nullopt},
        BoundaryRow{"multipart/mixed; boundary=abc", std::nullopt},
        BoundaryRow{"text/plain; boundary=abc", std::nullopt},
        BoundaryRow{"multipart/byterangesx; boundary=abc", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=\"\"", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=\"ends \"", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=\"a\\\"b\"", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=ab!c", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=\"abc", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=abc; boundary=abc", std::nullopt},
        BoundaryRow{"multipart/byteranges boundary=abc", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=abc def", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary = abc", std::nullopt},
        BoundaryRow{"multipart/byteranges; boundary=abc;", std::nullopt}));

} // namespace
} // namespace orvanta
