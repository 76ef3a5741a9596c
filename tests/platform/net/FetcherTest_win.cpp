// The fetcher's shared promises (FetcherContract.h) on Windows: WinINet, a message wait, and
// https servers that https_test.sh starts, with a CA in the Wine prefix's Root store.
#include "windows/TestServers.h"
// After the Windows headers.
#include "platform/net/FetcherContract.h"

void PostToEventLoop(std::function<void()> task) {
    static std::function<void()> s_task;
    s_task = std::move(task);
    // A thread timer: its callback runs from the waiting thread's message dispatch.
    ::SetTimer(nullptr, 0, 0, [](HWND, UINT, UINT_PTR id, DWORD) {
        ::KillTimer(nullptr, id);
        std::exchange(s_task, nullptr)();
    });
}

HttpsServers StartHttpsServers() {
    const std::string dir = EnvironmentUtf8(L"VANTREL_HTTPS_DIR");
    if (dir.empty()) return {};
    auto https = std::make_shared<TestHttps>(dir);
    EXPECT_TRUE(https->Trusted());
    const std::string trusted = EnvironmentUtf8(L"VANTREL_HTTPS_URL");
    std::string otherName = trusted;
    otherName.replace(otherName.find("localhost"), 9, "127.0.0.1");
    return {trusted, EnvironmentUtf8(L"VANTREL_HTTPS_UNTRUSTED_URL"), otherName, https};
}
