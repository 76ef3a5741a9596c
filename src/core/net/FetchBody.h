// How a response body becomes text lines or a stored file. Kept free of the network so the
// exact line and chunk rules can be tested byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "core/CStringList.h"

// Splits a body into text lines: each LF stays with its line, every CR is dropped, and an entry
// never holds more than kMaxLineChars characters (a longer line arrives as several entries).
// Lines are appended to `lines`; until Finish, the unfinished last one is its open line.
class CLineSplitter {
public:
    static constexpr std::size_t kMaxLineChars = 1022;

    explicit CLineSplitter(CStringList& lines) : m_lines(lines) {}

    void Feed(const char* data, std::size_t size);
    // End of body: a last line without LF is kept as it is.
    void Finish();
    // The body broke off: a line it cut short is dropped.
    void Abandon();

private:
    CStringList& m_lines;
};

// True when the chunk, read as text up to its first NUL byte, holds "<html>" in any letter case.
bool ChunkHoldsHtmlTag(const char* data, std::size_t size);

// The working URL: "http://" in front unless "http://" or "https://" occurs anywhere in it.
std::string NormaliseFetchUrl(const std::string& url);

// "Read N bytes", or "Read N/M bytes" when the length is known and positive.
std::string ProgressText(std::uint64_t received, std::int64_t contentLength);

// Stores a body in 1,024-byte chunks. A chunk that holds "<html>" is not written and ends the
// transfer; so does a write failure. Progress is reported after every chunk, including the
// final short (possibly empty) one.
class CChunkWriter {
public:
    static constexpr std::size_t kChunkSize = 1024;
    using ProgressFn = std::function<void(std::uint64_t received)>;

    CChunkWriter(std::FILE* file, ProgressFn progress)
        : m_file(file), m_progress(std::move(progress)) {}

    // False once the transfer must stop.
    bool Feed(const char* data, std::size_t size);
    // End of body: the last, short chunk (empty when the body is a multiple of the chunk size).
    void Finish();

    bool MetHtml() const { return m_bMetHtml; }
    bool WriteFailed() const { return m_bWriteFailed; }
    bool Stopped() const { return m_bMetHtml || m_bWriteFailed; }
    std::uint64_t Received() const { return m_received; }

private:
    void TakeChunk(const char* data, std::size_t size);
    // Takes whole chunks from the start of data (size: a positive multiple of kChunkSize); the
    // count of bytes taken.
    std::size_t TakeWholeChunks(const char* data, std::size_t size);

    std::FILE* m_file;
    ProgressFn m_progress;
    char m_buffer[kChunkSize];
    std::size_t m_fill = 0;
    std::uint64_t m_received = 0;
    bool m_bMetHtml = false;
    bool m_bWriteFailed = false;
};
