// Line splitting and 1,024-byte chunk storing, fed in awkward pieces.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/net/FetchBody.h"

namespace {

// The line rule one character at a time.
std::vector<std::string> ReferenceSplit(const std::string& body) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : body) {
        if (c == '\r') continue;
        line += c;
        if (c == '\n' || line.size() == CLineSplitter::kMaxLineChars) {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// Lines of every length up to a few times the limit, CRs anywhere, runs of empty lines.
std::string MixedBody(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string body;
    while (body.size() < size) {
        const std::size_t length = random() % 4 == 0 ? random() % 3000 : random() % 40;
        for (std::size_t i = 0; i < length; ++i)
            body += random() % 50 == 0 ? '\r' : static_cast<char>('a' + random() % 26);
        body += random() % 3 == 0 ? "\r\n" : "\n";
    }
    return body;
}

std::vector<std::string> Split(const std::string& body, std::size_t piece, bool whole = true,
                               std::size_t reserve = 0) {
    CStringList lines;
    lines.reserve(reserve, reserve / 16);
    CLineSplitter splitter(lines);
    for (std::size_t i = 0; i < body.size(); i += piece)
        splitter.Feed(body.data() + i, std::min(piece, body.size() - i));
    if (whole)
        splitter.Finish();
    else
        splitter.Abandon();
    return std::vector<std::string>(lines.begin(), lines.end());
}

}  // namespace

// Lines at the 1,022-character limit, then of every length, with CRs anywhere (none counts).
TEST(LineSplitter, LongMixedBodiesSplitAsOneCharacterAtATime) {
    const std::string a1021(1021, 'a'), a1022(1022, 'a');
    const std::string edges = a1021 + "\n" + a1022 + "\n" + a1021 + "\r\r\nx\n" + a1022 +
                              std::string(1022, 'b') + "cc\r\n\r\nlast";
    for (std::size_t piece : {1u, 7u, 1022u}) EXPECT_EQ(Split(edges, piece), ReferenceSplit(edges));
    const std::string small = MixedBody(100'000, 1);
    for (std::size_t piece : {1u, 63u, 64u, 65u, 1023u})
        EXPECT_EQ(Split(small, piece), ReferenceSplit(small)) << piece;
    // Big enough for the list's large blocks, with and without room made from a known length.
    const std::string large = MixedBody(5'000'000, 2);
    const std::vector<std::string> expected = ReferenceSplit(large);
    EXPECT_EQ(Split(large, 128 * 1024), expected);
    EXPECT_EQ(Split(large, 16 * 1024, true, large.size()), expected);
}

TEST(LineSplitter, BrokenBodyDropsOnlyTheCutLine) {
    for (std::size_t piece : {1u, 5u, 4096u}) {
        EXPECT_EQ(Split("one\r\ntwo\nthr", piece, false),
                  (std::vector<std::string>{"one\n", "two\n"}))
            << piece;
    }
    EXPECT_EQ(Split(std::string(1500, 'a'), 100, false),
              (std::vector<std::string>{std::string(1022, 'a')}));
}

TEST(ChunkHtmlTest, AnyCaseUpToTheFirstNul) {
    EXPECT_TRUE(ChunkHoldsHtmlTag("xx<HtMl>yy", 10));
    EXPECT_FALSE(ChunkHoldsHtmlTag("<html", 5));
    EXPECT_FALSE(ChunkHoldsHtmlTag("<htm>", 5));
    const std::string afterNul = std::string("ab\0<html>", 9);
    EXPECT_FALSE(ChunkHoldsHtmlTag(afterNul.data(), afterNul.size()));
}

TEST(ChunkWriter, WritesChunksAndReportsEveryReadIncludingTheFinalEmptyOne) {
    std::FILE* file = std::tmpfile();
    std::vector<std::uint64_t> reports;
    CChunkWriter writer(file, [&](std::uint64_t n) { reports.push_back(n); });
    const std::string body(2048, 'x');
    EXPECT_TRUE(writer.Feed(body.data(), 1000));
    EXPECT_TRUE(writer.Feed(body.data() + 1000, 1048));
    writer.Finish();
    EXPECT_EQ(reports, (std::vector<std::uint64_t>{1024, 2048, 2048}));
    EXPECT_FALSE(writer.Stopped());
    EXPECT_EQ(std::ftell(file), 2048);
    std::fclose(file);

    EXPECT_EQ(ProgressText(2048, 2048), "Read 2048/2048 bytes");
    EXPECT_EQ(ProgressText(2048, 0), "Read 2048 bytes");
    EXPECT_EQ(ProgressText(5, -1), "Read 5 bytes");
}

// A large read is checked and written as a run of chunks: the tag still counts only within one
// chunk, a '<' alone changes nothing, and every chunk is still reported; a chunk with the tag
// stops the download before it is written.
TEST(ChunkWriter, LargeReadsKeepTheRuleOfEachChunk) {
    std::string body(40 * 1024 + 300, 'x');
    body.replace(3 * 1024 + 10, 3, "<p>");
    body.replace(5 * 1024 - 3, 6, "<html>");  // across two chunks
    std::FILE* file = std::tmpfile();
    std::vector<std::uint64_t> reports;
    CChunkWriter writer(file, [&](std::uint64_t n) { reports.push_back(n); });
    EXPECT_TRUE(writer.Feed(body.data(), 7));
    EXPECT_TRUE(writer.Feed(body.data() + 7, body.size() - 7));
    writer.Finish();
    EXPECT_FALSE(writer.Stopped());
    ASSERT_EQ(reports.size(), 41u);
    for (std::size_t i = 0; i < 40; ++i) EXPECT_EQ(reports[i], (i + 1) * 1024);
    EXPECT_EQ(reports.back(), body.size());
    std::string stored(body.size() + 1, '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(stored.data(), 1, stored.size(), file), body.size());
    stored.resize(body.size());
    EXPECT_EQ(stored, body);
    std::fclose(file);

    body.replace(30 * 1024 + 500, 6, "<hTmL>");
    file = std::tmpfile();
    reports.clear();
    CChunkWriter stopped(file, [&](std::uint64_t n) { reports.push_back(n); });
    EXPECT_FALSE(stopped.Feed(body.data(), body.size()));
    EXPECT_TRUE(stopped.MetHtml());
    EXPECT_EQ(reports.size(), 31u);
    EXPECT_EQ(std::ftell(file), 30 * 1024);
    std::fclose(file);
}

TEST(ChunkWriter, AFailedWriteInALargeReadStopsIt) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full";
    const std::string body(256 * 1024, 'x');
    std::vector<std::uint64_t> reports;
    CChunkWriter writer(full, [&](std::uint64_t n) { reports.push_back(n); });
    EXPECT_FALSE(writer.Feed(body.data(), body.size()));
    EXPECT_TRUE(writer.WriteFailed());
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), writer.Received());
    EXPECT_LT(writer.Received(), body.size());
    std::fclose(full);
}

// The download's file could not be opened: the fetch fails instead of writing nowhere.
TEST(ChunkWriter, NoFileIsAWriteFailure) {
    CChunkWriter writer(nullptr, {});
    writer.Feed("abc", 3);
    writer.Finish();
    EXPECT_TRUE(writer.WriteFailed());
}

TEST(FetchUrlRule, PrefixOnlyWithoutHttpOrHttpsAnywhere) {
    EXPECT_EQ(NormaliseFetchUrl("example.org/a"), "http://example.org/a");
    EXPECT_EQ(NormaliseFetchUrl("https://example.org/a"), "https://example.org/a");
    EXPECT_EQ(NormaliseFetchUrl("example.org/?u=http://x"), "example.org/?u=http://x");
    EXPECT_EQ(NormaliseFetchUrl("example.org/?u=https://x"), "example.org/?u=https://x");
}
