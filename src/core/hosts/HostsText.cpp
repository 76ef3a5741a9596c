// The hosts block as pure text transformations.
#include "core/hosts/HostsText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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
    for (const std::string& line : lines) {
        std::string asRead = line;
        DropCarriageReturns(asRead);
        if (asRead.find(kEndMarker) != std::string::npos) return false;
    }
    std::size_t extra = kBeginMarker.size() + 1 + kEndMarker.size();
    for (const std::string& line : lines) extra += line.size() + 1;
    // One allocation: growing a large text step by step would briefly hold it twice over.
    text.reserve(text.size() + extra);
    text.append(kBeginMarker).push_back('\n');
    for (const std::string& line : lines) text.append(line).push_back('\n');
    text.append(kEndMarker);
    return true;
}

bool HasEntryLines(const std::vector<std::string>& lines) {
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& line) { return !line.empty(); });
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

std::size_t DropCarriageReturns(char* data, std::size_t size) {
    char* const end = data + size;
    char* out = static_cast<char*>(std::memchr(data, '\r', size));
    if (out == nullptr) return size;
    // Lines are long next to their CRs: move whole runs, not single bytes.
    for (char* in = out + 1; in < end;) {
        char* cr = static_cast<char*>(std::memchr(in, '\r', static_cast<std::size_t>(end - in)));
        char* const runEnd = cr != nullptr ? cr : end;
        std::memmove(out, in, static_cast<std::size_t>(runEnd - in));
        out += runEnd - in;
        in = runEnd + 1;
    }
    return static_cast<std::size_t>(out - data);
}

namespace {
// OR 0x20 folds ASCII capitals onto small letters and maps no other byte onto a small letter,
// which is all a letters-only label needs.
bool IsAdLabelAt(const char* p) {
    for (std::size_t k = 0; k < kAdLabel.size(); ++k) {
        if ((p[k] | 0x20) != kAdLabel[k]) return false;
    }
    return true;
}
}  // namespace

const char* FindAdLabel(const char* data, std::size_t size) {
    constexpr std::size_t kLength = kAdLabel.size();
    if (size < kLength) return nullptr;
    // Sixteen positions at a time: only where the first and the last letter both fit is the
    // whole label compared (portable vector extensions, no intrinsics).
    typedef unsigned char Lanes __attribute__((vector_size(16)));
    const Lanes fold = {0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
                        0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
    Lanes first{}, last{};
    for (int lane = 0; lane < 16; ++lane) {
        first[lane] = static_cast<unsigned char>(kAdLabel.front());
        last[lane] = static_cast<unsigned char>(kAdLabel.back());
    }
    std::size_t i = 0;
    for (; i + kLength - 1 + 16 <= size; i += 16) {
        Lanes a, b;
        std::memcpy(&a, data + i, 16);
        std::memcpy(&b, data + i + kLength - 1, 16);
        const auto hits = ((a | fold) == first) & ((b | fold) == last);
        std::uint64_t words[2];
        std::memcpy(words, &hits, 16);
        if ((words[0] | words[1]) == 0) continue;
        for (std::size_t lane = 0; lane < 16; ++lane) {
            if (hits[lane] != 0 && IsAdLabelAt(data + i + lane)) return data + i + lane;
        }
    }
    for (; i + kLength <= size; ++i) {
        if (IsAdLabelAt(data + i)) return data + i;
    }
    return nullptr;
}

bool ContainsAdLabel(std::string_view text) {
    std::string copy(text);
    DropCarriageReturns(copy);
    return FindAdLabel(copy.data(), copy.size()) != nullptr;
}
