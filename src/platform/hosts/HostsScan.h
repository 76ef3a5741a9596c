// Reading the hosts file's CR-free text a piece at a time, and the one pass that finds where its
// markers and the ad label stand, without ever holding the whole text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/FileSys.h"

// The file's CR-free text in chunks of 64 KiB. In memory each chunk is preceded by the end of the
// text before it, so a marker split between two reads is still found in the window.
class CrFreeReader {
public:
    static constexpr std::size_t kCarry = 64;
    // Small enough to stay in the cache, and few pages to fault in the first time it fills.
    static constexpr std::size_t kChunk = 64 << 10;

    // Reads on from the file's current position, which is the text position `offset`.
    explicit CrFreeReader(const filesys::File& file, std::uint64_t offset = 0);
    // Reads the file's bytes from memory instead.
    explicit CrFreeReader(std::string_view bytes);

    // Moves on to the next chunk; false at the end of the file or on a read error.
    bool Next();
    bool Failed() const { return m_failed; }
    // Whether a CR has been dropped so far: until then text positions are file offsets.
    bool SawCr() const { return m_sawCr; }
    std::string_view Chunk() const { return {m_buffer.get() + kCarry, m_size}; }
    std::uint64_t ChunkOffset() const { return m_offset; }
    const char* Window() const { return m_buffer.get() + kCarry - m_carry; }
    std::size_t WindowSize() const { return m_carry + m_size; }
    std::uint64_t WindowOffset() const { return m_offset - m_carry; }
    std::uint64_t WindowEnd() const { return m_offset + m_size; }

    // Where needle first occurs in the window at or after the text position from.
    std::optional<std::uint64_t> Find(std::string_view needle, std::uint64_t from) const;
    // Where the ad label first occurs in the window at or after the text position from.
    std::optional<std::uint64_t> FindLabel(std::uint64_t from) const;
    // The window's text in [from, to), clipped to the window.
    std::string_view Text(std::uint64_t from, std::uint64_t to) const;

private:
    std::int64_t ReadMore(char* into);

    const filesys::File* m_file = nullptr;
    std::string_view m_bytes;
    // Left uninitialised: a small file then touches one page of it, not all 16.
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_carry = 0;
    std::size_t m_size = 0;
    std::uint64_t m_offset = 0;
    bool m_failed = false;
    bool m_sawCr = false;
};

// Where the markers and the ad label stand in the CR-free text.
struct MarkerScan {
    bool ok = false;
    std::optional<std::uint64_t> probe;  // kBeginProbe
    std::optional<std::uint64_t> begin;  // kBeginMarker
    std::optional<std::uint64_t> end;    // kEndMarker after kBeginMarker
    std::optional<std::uint64_t> later;  // kBeginMarker after that end marker, when asked for
    std::uint64_t crFree = 0;            // the text before this holds no CR: it is the file's
    std::optional<std::uint64_t> size;   // the text's length, when the scan read to the end
    // With the label asked for (the whole file is then read):
    std::optional<std::uint64_t> firstLabel;
    std::optional<std::uint64_t> lastLabel;
    std::string beforeBegin;  // the text just before the begin marker
    std::string afterEnd;     // the text just after the end marker
    // The first block, begin marker through end marker, unless it is longer than any block the
    // settings could make.
    std::optional<std::string> block;
};

enum class ScanDepth {
    Block,     // until the first block's end marker
    PastEnd,   // on behind it, to find a second begin marker
    WholeFile  // everything, the ad label included
};

MarkerScan ScanMarkers(CrFreeReader& reader, ScanDepth depth);
