// Line splitting and chunked storing of response bodies.
#include "core/net/FetchBody.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Copies in[0, size) to out without its CR bytes and reports every LF, in order, by calling
// onLfs(at, mask): an LF at out position at + n for each bit n set in mask (never 0). Returns
// the count of characters written.
template <typename OnLfs>
std::size_t CopyWithoutCr(const char* in, std::size_t size, char* out, OnLfs&& onLfs) {
    std::size_t i = 0;
    std::size_t w = 0;
#if defined(__SSE2__)
    // One pass, 64 bytes a step: with short lines, a call of memchr per line, or a test per 16
    // bytes that the processor cannot predict, costs more than the copy and the search.
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; i + 64 <= size; i += 64) {
        __m128i bytes[4];
        std::uint64_t lfMask = 0;
        std::uint64_t crMask = 0;
        for (int k = 0; k < 4; ++k) {
            bytes[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 16 * k));
            lfMask |= static_cast<std::uint64_t>(
                          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes[k], lf))))
                      << (16 * k);
            crMask |= static_cast<std::uint64_t>(
                          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes[k], cr))))
                      << (16 * k);
        }
        if (crMask == 0) {
            for (int k = 0; k < 4; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w + 16 * k), bytes[k]);
            if (lfMask != 0) onLfs(w, lfMask);
            w += 64;
            continue;
        }
        // The runs between the CRs; each LF moves back by the CRs before it.
        const std::size_t blockStart = w;
        std::size_t from = 0;
        for (std::uint64_t m = crMask; m != 0; m &= m - 1) {
            const std::size_t at = static_cast<std::size_t>(__builtin_ctzll(m));
            std::memcpy(out + w, in + i + from, at - from);
            w += at - from;
            from = at + 1;
        }
        std::memcpy(out + w, in + i + from, 64 - from);
        w += 64 - from;
        for (; lfMask != 0; lfMask &= lfMask - 1) {
            const int at = __builtin_ctzll(lfMask);
            const std::uint64_t crsBefore = crMask & ((std::uint64_t{1} << at) - 1);
            onLfs(blockStart + static_cast<std::size_t>(at - __builtin_popcountll(crsBefore)), 1);
        }
    }
#endif
    for (; i < size; ++i) {
        const char c = in[i];
        if (c == '\r') continue;
        out[w] = c;
        if (c == '\n') onLfs(w, 1);
        ++w;
    }
    return w;
}

}  // namespace

void CLineSplitter::Feed(const char* data, std::size_t size) {
    // The open line holds fewer than kMaxLineChars characters and no LF between two Feeds.
    const std::size_t base = m_lines.OpenLineStart();
    const std::size_t held = m_lines.OpenLine().size();
    char* out = m_lines.ExtendOpenLine(size);
    // Line ends gathered here and handed over in batches.
    constexpr std::size_t kBatch = 256;
    std::size_t ends[kBatch];
    std::size_t count = 0;
    std::size_t lineStart = 0;  // within the open line, as the positions below
    auto makeRoom = [&](std::size_t needed) {
        if (count + needed <= kBatch) return;
        m_lines.EndLinesAt(ends, count);
        count = 0;
    };
    auto endLineAt = [&](std::size_t next) {
        makeRoom(1);
        ends[count++] = base + next;
        lineStart = next;
    };
    const std::size_t written =
        CopyWithoutCr(data, size, out, [&](std::size_t at, std::uint64_t mask) {
            const std::size_t first = held + at;
            const std::size_t last = first + 63 - static_cast<std::size_t>(__builtin_clzll(mask));
            makeRoom(64);
            if (last + 1 - lineStart <= kMaxLineChars) {
                // No line ending here reaches the limit: just note the ends.
                for (; mask != 0; mask &= mask - 1)
                    ends[count++] =
                        base + first + static_cast<std::size_t>(__builtin_ctzll(mask)) + 1;
                lineStart = last + 1;
                return;
            }
            for (; mask != 0; mask &= mask - 1) {
                const std::size_t lf = first + static_cast<std::size_t>(__builtin_ctzll(mask));
                while (lf + 1 - lineStart > kMaxLineChars) endLineAt(lineStart + kMaxLineChars);
                endLineAt(lf + 1);
            }
        });
    m_lines.ShrinkOpenLine(size - written);
    // A line that has reached the limit ends there, even when its LF comes next.
    const std::size_t total = held + written;
    while (total - lineStart >= kMaxLineChars) endLineAt(lineStart + kMaxLineChars);
    m_lines.EndLinesAt(ends, count);
}

void CLineSplitter::Finish() {
    if (!m_lines.OpenLine().empty()) m_lines.EndLine();
}

void CLineSplitter::Abandon() {
    m_lines.DropOpenLine();
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

std::string NormaliseFetchUrl(const std::string& url) {
    if (url.find("http://") == std::string::npos && url.find("https://") == std::string::npos)
        return "http://" + url;
    return url;
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
            const std::size_t taken = TakeWholeChunks(data, size - size % kChunkSize);
            data += taken;
            size -= taken;
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

std::size_t CChunkWriter::TakeWholeChunks(const char* data, std::size_t size) {
    // Straight from the network buffer, without a copy, and the run of chunks before the first
    // one with the tag is written in one call: a call per chunk costs more than the download's
    // own reads. A chunk before the next '<' cannot hold the tag, so one search clears them all.
    const auto nextLt = [&](std::size_t from) {
        const void* lt = std::memchr(data + from, '<', size - from);
        return lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - data) : size;
    };
    std::size_t lt = nextLt(0);
    std::size_t clean = 0;
    while (clean < size) {
        if (lt >= clean + kChunkSize) {
            clean = lt / kChunkSize * kChunkSize;
            continue;
        }
        if (ChunkHoldsHtmlTag(data + clean, kChunkSize)) break;
        clean += kChunkSize;
        if (lt < clean) lt = nextLt(clean);
    }
    const std::size_t written = clean > 0 && m_file ? std::fwrite(data, 1, clean, m_file) : 0;
    // Each chunk is reported as if taken alone; a chunk that was not written whole ends it.
    for (std::size_t end = kChunkSize; end <= clean; end += kChunkSize) {
        m_received += kChunkSize;
        if (end > written) m_bWriteFailed = true;
        if (m_progress) m_progress(m_received);
        if (m_bWriteFailed) return end;
    }
    if (clean == size) return size;
    TakeChunk(data + clean, kChunkSize);  // the one with the tag: not written, and the end
    return clean + kChunkSize;
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
