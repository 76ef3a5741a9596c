// The hosts file's streaming reader and its marker scan.
#include "platform/hosts/HostsScan.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/hosts/HostsLine.h"
#include "core/hosts/HostsText.h"

CrFreeReader::CrFreeReader(const filesys::File& file, std::uint64_t offset)
    : m_file(&file), m_buffer(new char[kCarry + kChunk]), m_offset(offset) {}

CrFreeReader::CrFreeReader(std::string_view bytes)
    : m_bytes(bytes), m_buffer(new char[kCarry + kChunk]) {}

bool CrFreeReader::Next() {
    const std::size_t keep = std::min(kCarry, WindowSize());
    std::memmove(m_buffer.get() + kCarry - keep, m_buffer.get() + kCarry + m_size - keep, keep);
    m_offset += m_size;
    m_carry = keep;
    m_size = 0;
    while (m_size == 0) {
        const std::int64_t n = ReadMore(m_buffer.get() + kCarry);
        if (n < 0) m_failed = true;
        if (n <= 0) return false;
        m_size = DropCarriageReturns(m_buffer.get() + kCarry, static_cast<std::size_t>(n));
        if (m_size != static_cast<std::size_t>(n)) m_sawCr = true;
    }
    return true;
}

std::optional<std::uint64_t> CrFreeReader::Find(std::string_view needle, std::uint64_t from) const {
    const std::string_view window(Window(), WindowSize());
    const std::uint64_t start = std::max(from, WindowOffset()) - WindowOffset();
    if (start >= window.size()) return std::nullopt;
    const std::size_t hit = window.find(needle, static_cast<std::size_t>(start));
    if (hit == std::string_view::npos) return std::nullopt;
    return WindowOffset() + hit;
}

std::optional<std::uint64_t> CrFreeReader::FindLabel(std::uint64_t from) const {
    const std::uint64_t start = std::max(from, WindowOffset()) - WindowOffset();
    if (start >= WindowSize()) return std::nullopt;
    const char* hit = FindAdLabel(Window() + start, WindowSize() - start);
    if (hit == nullptr) return std::nullopt;
    return WindowOffset() + static_cast<std::uint64_t>(hit - Window());
}

std::string_view CrFreeReader::Text(std::uint64_t from, std::uint64_t to) const {
    from = std::clamp(from, WindowOffset(), WindowEnd());
    to = std::clamp(to, from, WindowEnd());
    return {Window() + (from - WindowOffset()), static_cast<std::size_t>(to - from)};
}

std::int64_t CrFreeReader::ReadMore(char* into) {
    if (m_file != nullptr) return filesys::ReadSome(*m_file, into, kChunk);
    const std::size_t n = std::min(kChunk, m_bytes.size());
    std::memcpy(into, m_bytes.data(), n);
    m_bytes.remove_prefix(n);
    return static_cast<std::int64_t>(n);
}

namespace {

// No block written from a settings file is longer than this.
constexpr std::size_t kLongestBlock =
    kMaxSettingsFileSize + kBeginMarker.size() + kEndMarker.size() + 2;

// The text on either side of a cut that could join into the ad label.
constexpr std::size_t kJoinReach = kAdLabel.size() - 1;

// The scan's state between windows.
class Scanner {
public:
    Scanner(CrFreeReader& reader, ScanDepth depth)
        : m_reader(reader),
          m_pastEnd(depth != ScanDepth::Block),
          m_labels(depth == ScanDepth::WholeFile),
          m_keepBlock(m_labels) {}

    MarkerScan Run() {
        while (m_reader.Next()) {
            if (!m_reader.SawCr()) m_scan.crFree = m_reader.ChunkOffset() + m_reader.Chunk().size();
            FindBlock();
            if (m_scan.end && m_pastEnd && !m_scan.later) m_scan.later = NextBegin();
            if (m_labels) {
                FindLabels();
                continue;
            }
            if (m_scan.end && (!m_pastEnd || m_scan.later)) {
                m_scan.ok = true;  // nothing more to learn
                return m_scan;
            }
        }
        m_scan.ok = !m_reader.Failed();
        if (m_scan.ok) m_scan.size = m_reader.WindowEnd();
        return m_scan;
    }

private:
    // One search finds both: a begin marker is a probe behind "# ". A probe near the window's
    // start was looked at in the window before, with what stands before it.
    std::optional<std::uint64_t> NextBegin() {
        static_assert(kBeginMarker.substr(kBeginMarker.size() - kBeginProbe.size()) == kBeginProbe);
        constexpr std::size_t kLead = kBeginMarker.size() - kBeginProbe.size();  // "# "
        while (const std::optional<std::uint64_t> hit = m_reader.Find(kBeginProbe, m_probeFrom)) {
            if (!m_scan.probe) m_scan.probe = hit;
            m_probeFrom = *hit + 1;
            if (*hit >= m_reader.WindowOffset() + kLead &&
                std::memcmp(m_reader.Window() + (*hit - kLead - m_reader.WindowOffset()),
                            kBeginMarker.data(), kLead) == 0) {
                return *hit - kLead;
            }
        }
        return std::nullopt;
    }

    void FindBlock() {
        if (!m_scan.begin) {
            m_scan.begin = NextBegin();
            // A begin marker past the first window has the window's carry before it.
            if (m_scan.begin && m_labels)
                m_scan.beforeBegin = m_reader.Text(
                    *m_scan.begin - std::min<std::uint64_t>(*m_scan.begin, kJoinReach),
                    *m_scan.begin);
        }
        if (!m_scan.begin || m_scan.end) return;
        m_scan.end = m_reader.Find(kEndMarker, *m_scan.begin + kBeginMarker.size());
        if (m_scan.end) m_probeFrom = std::max(m_probeFrom, *m_scan.end + kEndMarker.size());
        if (!m_keepBlock) return;
        // Windows overlap by their carry: each piece is taken once.
        const std::uint64_t to = m_scan.end ? *m_scan.end + kEndMarker.size() : UINT64_MAX;
        const std::uint64_t from = std::max(m_blockFrom, *m_scan.begin);
        const std::string_view piece = m_reader.Text(from, to);
        if (m_block.size() + piece.size() > kLongestBlock) {
            m_keepBlock = false;  // too long to be one of ours
            return;
        }
        m_block.append(piece);
        m_blockFrom = from + piece.size();
        if (m_scan.end) m_scan.block = m_block;
    }

    void FindLabels() {
        while (const std::optional<std::uint64_t> hit = m_reader.FindLabel(m_labelFrom)) {
            if (!m_scan.firstLabel) m_scan.firstLabel = hit;
            m_scan.lastLabel = hit;
            m_labelFrom = *hit + 1;
        }
        if (m_scan.end && m_scan.afterEnd.size() < kJoinReach) {
            const std::uint64_t from = *m_scan.end + kEndMarker.size() + m_scan.afterEnd.size();
            m_scan.afterEnd.append(m_reader.Text(from, from + kJoinReach - m_scan.afterEnd.size()));
        }
    }

    CrFreeReader& m_reader;
    const bool m_pastEnd;
    const bool m_labels;
    MarkerScan m_scan;
    std::uint64_t m_probeFrom = 0;  // every probe before this has been looked at
    std::uint64_t m_labelFrom = 0;
    std::string m_block;  // the first block as far as it has been read
    std::uint64_t m_blockFrom = 0;
    bool m_keepBlock;  // false once the block is too long to be one of ours
};

}  // namespace

MarkerScan ScanMarkers(CrFreeReader& reader, ScanDepth depth) {
    return Scanner(reader, depth).Run();
}
