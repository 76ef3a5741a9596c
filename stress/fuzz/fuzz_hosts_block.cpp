// Fuzzes the hosts block: the pure text operations against each other, and the streaming file
// edits against the pure ones. Input: hosts text, a NUL, then settings lines split at LF.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "core/hosts/HostsText.h"
#include "platform/files/FileOps_unix.h"
#include "platform/hosts/HostsFileIO.h"

namespace {

std::string NaiveLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string ReadWhole(const std::string& path) {
    std::string data;
    const int fd = ::open(path.c_str(), O_RDONLY);
    char buffer[65536];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, static_cast<std::size_t>(n));
    if (fd >= 0) ::close(fd);
    return data;
}

void WriteWhole(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// What Hide makes of the CR-free text, by the plain text rules: nullopt when it writes nothing;
// *refused tells a refusal from a file that already hides ads or already holds this block.
std::optional<std::string> HideByText(const std::string& text,
                                      const std::vector<std::string>& lines, bool* refused) {
    *refused = false;
    if (ContainsAdLabel(text)) return std::nullopt;
    const BlockState state = ClassifyBlock(text);
    std::string block;
    *refused = state == BlockState::ForeignMarker || state == BlockState::DamagedBlock ||
               !HasEntryLines(lines) || !AppendBlock(block, lines);
    if (*refused) return std::nullopt;
    if (state == BlockState::NoBlock) return text + block;
    const std::size_t begin = text.find(kBeginMarker);
    const std::size_t end = text.find(kEndMarker, begin + kBeginMarker.size()) + kEndMarker.size();
    if (text.compare(begin, end - begin, block) == 0) return std::nullopt;
    return text.substr(0, begin) + block + text.substr(end);
}

std::string ScratchHosts() {
    static const std::string path = [] {
        char dir[] = "/dev/shm/vantrel-fuzz-XXXXXX";
        char fallback[] = "/tmp/vantrel-fuzz-XXXXXX";
        const char* made = ::mkdtemp(dir);
        if (made == nullptr) made = ::mkdtemp(fallback);
        FUZZ_CHECK(made != nullptr);
        // Flushing to disk proves nothing here and would make every run slow.
        static FileOps ops = DefaultFileOps();
        ops.fsync = [](int) { return 0; };
        ops.fsyncDir = [](const char*) { return 0; };
        CurrentFileOps() = ops;
        return std::string(made) + "/hosts";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view hostsPart = input.substr(0, nul);
    std::vector<std::string> lines;
    if (nul != std::string_view::npos) {
        std::string_view rest = input.substr(nul + 1);
        for (;;) {
            const std::size_t lf = rest.find('\n');
            lines.emplace_back(rest.substr(0, lf));
            if (lf == std::string_view::npos) break;
            rest.remove_prefix(lf + 1);
        }
    }

    // CR dropping: both forms agree and leave no CR.
    std::string text(hostsPart);
    DropCarriageReturns(text);
    std::string buffer(hostsPart);
    buffer.resize(DropCarriageReturns(buffer.data(), buffer.size()));
    FUZZ_CHECK(buffer == text);
    FUZZ_CHECK(text.find('\r') == std::string::npos);

    // Line ends: writing CR LF and reading back gives the CR-free text.
    std::string crlf;
    AppendWithLineEnds(crlf, text, "\r\n");
    DropCarriageReturns(crlf);
    FUZZ_CHECK(crlf == text);

    // The presence test agrees with a plain lower-case search.
    const bool label = NaiveLower(text).find(kAdLabel) != std::string::npos;
    FUZZ_CHECK((FindAdLabel(text.data(), text.size()) != nullptr) == label);
    FUZZ_CHECK(ContainsAdLabel(hostsPart) == label);

    // Classification and cutting agree.
    const BlockState state = ClassifyBlock(text);
    std::string cut = text;
    const CutResult cutResult = CutBlock(cut);
    FUZZ_CHECK((state == BlockState::BlockPresent) == (cutResult == CutResult::Cut));
    FUZZ_CHECK((state == BlockState::DamagedBlock) == (cutResult == CutResult::Damaged));
    if (cutResult != CutResult::Cut) FUZZ_CHECK(cut == text);

    // Removing an added block gives back the normalised original.
    std::string added = text;
    const bool appended = AppendBlock(added, lines);
    bool endMarkerLine = false;
    for (std::string line : lines) {
        DropCarriageReturns(line);  // as the next read sees the block
        endMarkerLine |= line.find(kEndMarker) != line.npos;
    }
    FUZZ_CHECK(appended == (state == BlockState::NoBlock && !endMarkerLine));
    if (appended) {
        FUZZ_CHECK(ClassifyBlock(added) == BlockState::BlockPresent);
        std::string removed = added;
        FUZZ_CHECK(CutBlock(removed) == CutResult::Cut);
        FUZZ_CHECK(removed == text);
    } else {
        FUZZ_CHECK(added == text);
    }

    // The streaming file edits write what the pure operations make of the CR-free text. They
    // cost far more than the rest, so only every fourth input goes through them.
    if (std::hash<std::string_view>()(input) % 4 != 0) return 0;
    const std::string path = ScratchHosts();
    WriteWhole(path, hostsPart);
    const bool addOk = AddBlockAt(path, lines, "\r\n").Done();
    std::string expected;
    AppendWithLineEnds(expected, added, "\r\n");
    FUZZ_CHECK(addOk == (appended || state != BlockState::NoBlock));  // refused: no write
    FUZZ_CHECK(ReadWhole(path) == (appended ? expected : std::string(hostsPart)));

    WriteWhole(path, hostsPart);
    const bool removeOk = RemoveBlockAt(path, "\n").Done();
    FUZZ_CHECK(removeOk == (state != BlockState::DamagedBlock));
    FUZZ_CHECK(ReadWhole(path) == (cutResult == CutResult::Cut ? cut : std::string(hostsPart)));

    // A press: Hide against the text rules, Show as the cut; either says what the file now holds.
    const SettingsSource source = [&lines] { return std::optional(lines); };
    bool refused = false;
    const std::optional<std::string> hidden = HideByText(text, lines, &refused);
    // Both line ends: with LF the kernel copies the unchanged start of the file.
    const std::string_view hideEnd = input.size() % 2 != 0 ? "\n" : "\r\n";
    WriteWhole(path, hostsPart);
    HostsResult change = ApplyIntentAt(path, HostsIntent::Hide, source, hideEnd);
    FUZZ_CHECK((!change.Done() && change.outcome != HostsOutcome::WriteFailed) == refused);
    FUZZ_CHECK((change.outcome == HostsOutcome::Written) == hidden.has_value());
    std::string expectedHide;
    if (hidden) AppendWithLineEnds(expectedHide, *hidden, hideEnd);
    FUZZ_CHECK(ReadWhole(path) == (hidden ? expectedHide : std::string(hostsPart)));
    FUZZ_CHECK(change.hidden == ContainsAdLabel(hidden ? *hidden : text));

    WriteWhole(path, hostsPart);
    change = ApplyIntentAt(path, HostsIntent::Show, source, "\n");
    FUZZ_CHECK((change.outcome == HostsOutcome::Written) == (cutResult == CutResult::Cut));
    FUZZ_CHECK(ReadWhole(path) == (cutResult == CutResult::Cut ? cut : std::string(hostsPart)));
    FUZZ_CHECK(change.hidden == ContainsAdLabel(cutResult == CutResult::Cut ? cut : text));
    return 0;
}
