// Line splitting and chunked storing of response bodies.
#include "net/FetchBody.h"

#include <algorithm>
#include <cstring>

void CLineSplitter::Feed(const char* data, std::size_t size) {
    // Copy the piece in whole runs between CRs, then mark the line ends in what was copied.
    const char* end = data + size;
    while (data < end) {
        const auto* cr = static_cast<const char*>(std::memchr(data, '\r', end - data));
        const char* runEnd = cr ? cr : end;
        m_lines.AppendPiece(std::string_view(data, runEnd - data));
        data = cr ? cr + 1 : end;
    }
    for (;;) {
        const std::string_view open = m_lines.OpenLine();
        const std::size_t window = std::min(open.size(), kMaxLineChars);
        const char* lf = m_scanned < window
                             ? static_cast<const char*>(
                                   std::memchr(open.data() + m_scanned, '\n', window - m_scanned))
                             : nullptr;
        if (lf) {
            m_lines.EndLineAfter(lf - open.data() + 1);
        } else if (open.size() >= kMaxLineChars) {
            m_lines.EndLineAfter(kMaxLineChars);
        } else {
            m_scanned = open.size();
            return;
        }
        m_scanned = 0;
    }
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
