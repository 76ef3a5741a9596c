// Line splitting and chunked storing of response bodies.
#include "net/FetchBody.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Calls onLf with the position of every LF in text[from, size), in order.
template <typename OnLf>
void ForEachLf(const char* text, std::size_t from, std::size_t size, OnLf&& onLf) {
    std::size_t i = from;
#if defined(__SSE2__)
    // 64 bytes a step: with short lines, a call of memchr per line, or a test per 16 bytes that
    // the processor cannot predict, costs more than the search itself.
    const __m128i lf = _mm_set1_epi8('\n');
    auto maskOf = [&](std::size_t at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        return static_cast<std::uint64_t>(
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf))));
    };
    for (; i + 64 <= size; i += 64) {
        std::uint64_t mask =
            maskOf(i) | maskOf(i + 16) << 16 | maskOf(i + 32) << 32 | maskOf(i + 48) << 48;
        for (; mask != 0; mask &= mask - 1)
            onLf(i + static_cast<std::size_t>(__builtin_ctzll(mask)));
    }
#endif
    for (; i < size; ++i) {
        if (text[i] == '\n') onLf(i);
    }
}

}  // namespace

void CLineSplitter::Feed(const char* data, std::size_t size) {
    // Copy the piece in whole runs between CRs, then mark the line ends in what was copied.
    const char* end = data + size;
    while (data < end) {
        const auto* cr = static_cast<const char*>(std::memchr(data, '\r', end - data));
        const char* runEnd = cr ? cr : end;
        m_lines.AppendPiece(std::string_view(data, runEnd - data));
        data = cr ? cr + 1 : end;
    }
    const std::string_view open = m_lines.OpenLine();
    const std::size_t base = m_lines.OpenLineStart();
    // Line ends gathered here and handed over in batches.
    std::size_t ends[256];
    std::size_t count = 0;
    std::size_t lineStart = 0;
    auto endLineAt = [&](std::size_t next) {
        ends[count++] = base + next;
        lineStart = next;
        if (count == std::size(ends)) {
            m_lines.EndLinesAt(ends, count);
            count = 0;
        }
    };
    ForEachLf(open.data(), m_scanned, open.size(), [&](std::size_t lf) {
        while (lf + 1 - lineStart > kMaxLineChars) endLineAt(lineStart + kMaxLineChars);
        endLineAt(lf + 1);
    });
    // A line that has reached the limit ends there, even when its LF comes next.
    while (open.size() - lineStart >= kMaxLineChars) endLineAt(lineStart + kMaxLineChars);
    m_lines.EndLinesAt(ends, count);
    m_scanned = open.size() - lineStart;
}

void CLineSplitter::Finish() {
    if (!m_lines.OpenLine().empty()) m_lines.EndLine();
    m_scanned = 0;
}

void CLineSplitter::Abandon() {
    m_lines.DropOpenLine();
    m_scanned = 0;
}

bool ChunkHoldsHtmlTag(const char* data, std::size_t size) {
    static constexpr char kTag[] = "<html>";
    constexpr std::size_t kTagLen = sizeof(kTag) - 1;
    if (const void* nul = std::memchr(data, '\0', size))
        size = static_cast<const char*>(nul) - data;
    const char* end = data + size;
    for (const char* p = data; end - p >= static_cast<std::ptrdiff_t>(kTagLen); ++p) {
        p = static_cast<const char*>(std::memchr(p, '<', end - p - kTagLen + 1));
        if (!p) return false;
        bool match = true;
        for (std::size_t i = 1; i < kTagLen && match; ++i) {
            const char c = p[i];
            match = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == kTag[i];
        }
        if (match) return true;
    }
    return false;
}

std::string ProgressText(std::uint64_t received, std::int64_t contentLength) {
    // Appended piece by piece: "literal" + string trips a false -Wrestrict in GCC 12 at -O3.
    std::string text = "Read ";
    text += std::to_string(received);
    if (contentLength > 0) {
        text += '/';
        text += std::to_string(contentLength);
    }
    return text + " bytes";
}

bool CChunkWriter::Feed(const char* data, std::size_t size) {
    while (size > 0 && !Stopped()) {
        if (m_fill == 0 && size >= kChunkSize) {
            // Whole chunks straight from the network buffer, without a copy.
            TakeChunk(data, kChunkSize);
            data += kChunkSize;
            size -= kChunkSize;
            continue;
        }
        const std::size_t take = std::min(size, kChunkSize - m_fill);
        std::memcpy(m_buffer + m_fill, data, take);
        m_fill += take;
        data += take;
        size -= take;
        if (m_fill == kChunkSize) {
            m_fill = 0;
            TakeChunk(m_buffer, kChunkSize);
        }
    }
    return !Stopped();
}

void CChunkWriter::Finish() {
    if (Stopped()) return;
    const std::size_t size = m_fill;
    m_fill = 0;
    TakeChunk(m_buffer, size);
}

void CChunkWriter::TakeChunk(const char* data, std::size_t size) {
    if (ChunkHoldsHtmlTag(data, size)) {
        m_bMetHtml = true;
    } else if (size > 0 && (!m_file || std::fwrite(data, 1, size, m_file) != size)) {
        m_bWriteFailed = true;
    }
    m_received += size;
    if (m_progress) m_progress(m_received);
}
