// The hosts block as pure text transformations.
#include "hosts/HostsText.h"

#include <algorithm>
#include <cstring>

static_assert(kAdLabel.size() < 32, "the scanner's carry must hold the label");

BlockState ClassifyBlock(std::string_view text) {
    if (text.find(kBeginProbe) == std::string_view::npos) return BlockState::NoBlock;
    const std::size_t begin = text.find(kBeginMarker);
    if (begin == std::string_view::npos) return BlockState::ForeignMarker;
    if (text.find(kEndMarker, begin + kBeginMarker.size()) == std::string_view::npos) {
        return BlockState::DamagedBlock;
    }
    return BlockState::BlockPresent;
}

bool AppendBlock(std::string& text, const std::vector<std::string>& lines) {
    if (text.find(kBeginProbe) != std::string::npos) return false;
    std::size_t extra = kBeginMarker.size() + 1 + kEndMarker.size();
    for (const std::string& line : lines) extra += line.size() + 1;
    // One allocation: growing a large text step by step would briefly hold it twice over.
    text.reserve(text.size() + extra);
    text.append(kBeginMarker).push_back('\n');
    for (const std::string& line : lines) text.append(line).push_back('\n');
    text.append(kEndMarker);
    return true;
}

CutResult CutBlock(std::string& text) {
    const std::size_t begin = text.find(kBeginMarker);
    if (begin == std::string::npos) return CutResult::NoBlock;
    // Searching from the start would find a stray earlier end marker and repeat text.
    const std::size_t end = text.find(kEndMarker, begin + kBeginMarker.size());
    if (end == std::string::npos) return CutResult::Damaged;
    text.erase(begin, end + kEndMarker.size() - begin);
    return CutResult::Cut;
}

void DropCarriageReturns(std::string& text) {
    const std::size_t first = text.find('\r');
    if (first == std::string::npos) return;
    text.erase(std::remove(text.begin() + static_cast<std::ptrdiff_t>(first), text.end(), '\r'),
               text.end());
}

void AppendWithLineEnds(std::string& out, std::string_view text, std::string_view lineEnd) {
    if (lineEnd == "\n") {
        out.append(text);
        return;
    }
    std::size_t pos = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) {
            out.append(text.substr(pos));
            return;
        }
        out.append(text.substr(pos, lf - pos)).append(lineEnd);
        pos = lf + 1;
    }
}

CAdLabelScanner::CAdLabelScanner() : m_buffer(kCarryRoom + kChunk) {}

bool CAdLabelScanner::Commit(std::size_t size) {
    if (m_bFound) return true;
    char* const chunk = Buffer();
    // OR 0x20 folds ASCII capitals onto small letters and maps no other byte onto a small
    // letter, which is all a letters-only label needs.
    std::size_t kept = size;
    if (std::memchr(chunk, '\r', size) == nullptr) {
        for (std::size_t i = 0; i < size; ++i) chunk[i] = static_cast<char>(chunk[i] | 0x20);
    } else {
        kept = 0;
        for (std::size_t i = 0; i < size; ++i) {
            const char c = chunk[i];
            chunk[kept] = static_cast<char>(c | 0x20);
            kept += c != '\r';
        }
    }
    char* const start = chunk - m_carry;
    const std::size_t length = m_carry + kept;
    if (memmem(start, length, kAdLabel.data(), kAdLabel.size()) != nullptr) {
        m_bFound = true;
        return true;
    }
    // Keep the tail in front of the next chunk so a label split between reads is found.
    const std::size_t carry = std::min(length, kAdLabel.size() - 1);
    std::memmove(chunk - carry, start + length - carry, carry);
    m_carry = carry;
    return false;
}

bool CAdLabelScanner::Feed(std::string_view bytes) {
    while (!bytes.empty() && !m_bFound) {
        const std::size_t n = std::min(bytes.size(), kChunk);
        std::memcpy(Buffer(), bytes.data(), n);
        Commit(n);
        bytes.remove_prefix(n);
    }
    return m_bFound;
}

bool ContainsAdLabel(std::string_view text) {
    CAdLabelScanner scanner;
    return scanner.Feed(text);
}
