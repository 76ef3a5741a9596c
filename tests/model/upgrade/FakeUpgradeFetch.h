// A network for the upgrade tests: fixed replies by address, each fetch noted in a log.
#pragma once

#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "model/upgrade/UpgradeFlow.h"

struct FakeReply {
    bool ok = true;
    std::string body;
    long status = 200;
    EFetchError error = EFetchError::None;
};

class FakeUpgradeFetch : public UpgradeFetch {
public:
    explicit FakeUpgradeFetch(std::vector<std::string>& log) : m_log(log) {}

    // Text mode gives the body's lines; file mode stores it and reports its size.
    UpgradeFetchResult Fetch(const std::string& url, const std::string& file,
                             const std::function<void(const std::string&)>& progress) override {
        m_log.push_back("fetch " + url);
        if (m_duringFetch) std::exchange(m_duringFetch, nullptr)();
        const auto found = m_replies.find(url);
        const FakeReply reply = found != m_replies.end()
                                    ? found->second
                                    : FakeReply{false, "", 0, EFetchError::Unreachable};
        UpgradeFetchResult result{reply.ok,
                                  reply.error,
                                  reply.status,
                                  reply.ok ? "" : "the server could not be reached",
                                  {}};
        if (reply.ok && file.empty()) {
            for (std::size_t at = 0; at < reply.body.size();) {
                const std::size_t end = reply.body.find('\n', at);
                result.lines.push_back(std::string_view(reply.body).substr(at, end + 1 - at));
                at = end + 1;
            }
        } else if (reply.ok) {
            std::ofstream(file, std::ios::binary) << reply.body;
            if (progress) progress("Read " + std::to_string(reply.body.size()) + " bytes");
        }
        return result;
    }

    std::vector<std::string>& m_log;
    std::map<std::string, FakeReply> m_replies;
    // Runs once, inside the next fetch.
    std::function<void()> m_duringFetch;
};

// An upgrade page with the four values.
inline std::string UpgradePageText(const std::string& version, const std::string& link,
                                   const std::string& digest,
                                   const std::string& description = "Faster.\n") {
    return "<html>\n<!-- UPGRADE Version\n" + version + "\n<!-- UPGRADE Description\n" +
           description + "END UPGRADE Description\n<!-- UPGRADE Download Link\n" + link +
           "\n<!-- UPGRADE SHA256\n" + digest + "\n</html>\n";
}
