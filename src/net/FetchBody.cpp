// Line splitting and chunked storing of response bodies.
#include "net/FetchBody.h"

#include <algorithm>
#include <cstring>

void CLineSplitter::Feed(const char* data, std::size_t size) {
    const char* end = data + size;
    while (data < end) {
        const auto* lf = static_cast<const char*>(std::memchr(data, '\n', end - data));
        const char* segEnd = lf ? lf + 1 : end;
        // One allocation per line instead of a string growing step by step.
        m_current.reserve(
            std::min(m_current.size() + static_cast<std::size_t>(segEnd - data), kMaxLineChars));
        // Copy the segment without its CR bytes.
        for (const char* p = data; p < segEnd;) {
            const auto* cr = static_cast<const char*>(std::memchr(p, '\r', segEnd - p));
            const char* runEnd = cr ? cr : segEnd;
            AppendRun(p, runEnd - p);
            p = cr ? cr + 1 : segEnd;
        }
        if (lf && !m_current.empty()) {
            m_lines.push_back(std::move(m_current));
            m_current.clear();
        }
        data = segEnd;
    }
}

void CLineSplitter::AppendRun(const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t take = std::min(size, kMaxLineChars - m_current.size());
        m_current.append(data, take);
        data += take;
        size -= take;
        if (m_current.size() == kMaxLineChars) {
            m_lines.push_back(std::move(m_current));
            m_current.clear();
        }
    }
}

void CLineSplitter::Finish() {
    if (!m_current.empty()) m_lines.push_back(std::move(m_current));
    m_current.clear();
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
    std::string text = "Read " + std::to_string(received);
    if (contentLength > 0) text += "/" + std::to_string(contentLength);
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
