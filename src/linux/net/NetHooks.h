// The two places where fetching needs the user: a message when no connection can be opened, and
// a user name and password on a 401 answer. The user-interface layer installs the real ones
// (InitNetUi); without it the message goes to stderr and no credentials are offered.
#pragma once

#include <functional>
#include <optional>
#include <string>

struct NetCredentials {
    std::string user;
    std::string password;
};

// Runs on the thread that called Fetch (the user-interface thread). `realm` may be empty.
using CredentialsHook =
    std::function<std::optional<NetCredentials>(const std::string& url, const std::string& realm)>;
// Runs on the thread that called Fetch.
using NetMessageHook = std::function<void(const std::string& text)>;

// Each returns the previous hook; an empty hook restores the default.
CredentialsHook SetCredentialsHook(CredentialsHook hook);
NetMessageHook SetNetMessageHook(NetMessageHook hook);

// Used by the fetcher.
std::optional<NetCredentials> AskCredentials(const std::string& url, const std::string& realm);
bool HasCredentialsHook();
void ShowNetMessage(const std::string& text);
