// Storage of the user-facing hooks of the fetcher.
#include "linux/net/NetHooks.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {
std::mutex g_hookMutex;
CredentialsHook g_credentialsHook;
NetMessageHook g_messageHook;
}  // namespace

CredentialsHook SetCredentialsHook(CredentialsHook hook) {
    std::lock_guard lock(g_hookMutex);
    return std::exchange(g_credentialsHook, std::move(hook));
}

NetMessageHook SetNetMessageHook(NetMessageHook hook) {
    std::lock_guard lock(g_hookMutex);
    return std::exchange(g_messageHook, std::move(hook));
}

bool HasCredentialsHook() {
    std::lock_guard lock(g_hookMutex);
    return static_cast<bool>(g_credentialsHook);
}

std::optional<NetCredentials> AskCredentials(const std::string& url, const std::string& realm) {
    CredentialsHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_credentialsHook;
    }
    if (!hook) return std::nullopt;
    return hook(url, realm);
}

void ShowNetMessage(const std::string& text) {
    NetMessageHook hook;
    {
        std::lock_guard lock(g_hookMutex);
        hook = g_messageHook;
    }
    if (hook) {
        hook(text);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}
