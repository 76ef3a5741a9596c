// Fuzzes the settings dialog's two directions: the list split into settings lines on saving,
// and those lines read back into the list on opening; and that a list the dialog lets through is
// one the hosts block takes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "core/hosts/AddressTwin.h"
#include "core/hosts/HostsLine.h"
#include "core/settings/SettingsList.h"
#include "platform/settings/SettingsFileIO.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string domains(reinterpret_cast<const char*>(data), size);
    const std::string address = "0.0.0.0";
    const std::string text = SettingsTextFor(domains, address);

    // Each domain is two lines: the address, a blank and a non-empty piece without line breaks or
    // blanks around it, then the same piece behind the address's twin; the pieces are the list's
    // cleaned domains.
    const std::string twin = TwinAddress(address);
    std::vector<std::string> pieces;
    bool fitsReader = true;
    std::size_t pos = 0;
    for (std::size_t index = 0; pos < text.size(); ++index) {
        const std::size_t lf = text.find('\n', pos);
        FUZZ_CHECK(lf != std::string::npos);
        const std::string line = text.substr(pos, lf - pos);
        const std::string& lead = index % 2 == 0 ? address : twin;
        FUZZ_CHECK(line.compare(0, lead.size() + 1, lead + " ") == 0);
        const std::string piece = line.substr(lead.size() + 1);
        FUZZ_CHECK(!piece.empty());
        FUZZ_CHECK(piece.find('\r') == std::string::npos);
        FUZZ_CHECK(piece.front() != ' ' && piece.front() != '\t');
        FUZZ_CHECK(piece.back() != ' ' && piece.back() != '\t');
        if (index % 2 == 0) {
            pieces.push_back(piece);
        } else {
            FUZZ_CHECK(piece == pieces.back());
        }
        fitsReader = fitsReader && line.size() <= 4999;
        pos = lf + 1;
    }
    FUZZ_CHECK(pieces.size() * 2 ==
               static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    FUZZ_CHECK(pieces == DomainsOfList(domains));
    const bool accepted = FindListProblem(domains, address).text.empty();

    // Saved and opened again, the dialog shows one piece a line.
    if (fitsReader) {
        const std::string path = FuzzSettingsFile();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        FUZZ_CHECK(fd >= 0);
        FUZZ_CHECK(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
        ::close(fd);
        const auto lines = ReadSettingsLines(path);
        FUZZ_CHECK(lines.has_value());
        std::string shown;
        for (const std::string& piece : pieces) shown += piece + "\n";
        FUZZ_CHECK(DomainListOf(*lines) == shown);
        // What the dialog saves, the block takes.
        if (accepted) FUZZ_CHECK(CheckBlockLines(*lines).verdict == BlockLinesCheck::Ok);
    }
    return 0;
}
