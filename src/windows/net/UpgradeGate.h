// What an upgrade must pass before the downloaded setup runs: the page and the download over
// https, the SHA-256 the page publishes, and the maker's signature over the file.
#pragma once

#include <optional>
#include <string>

#include "platform/FileSignature.h"

inline constexpr const char* kDownloadFile = "NewUpdate.exe";
inline constexpr const char* kSignatureFile = "NewUpdate.exe.sig";
inline constexpr const char* kUninstallerName = "unins000.exe";
inline constexpr const char* kUninstallerArgument = " /SILENT";

// Why an upgrade may not go on. kNone: it may.
enum class UpgradeRefusal {
    kNone,
    kNoLink,          // the page gave no download link
    kPageNotSecure,   // the page did not come over https
    kLinkNotSecure,   // the link is not https
    kNoDigest,        // the page publishes no SHA-256 for the download
    kNoKey,           // this build holds no key to check signatures with
    kDownloadFailed,  // the transfer did not deliver a complete file
    kDigestMismatch,  // the file is not the one the page describes
    kBadSignature,    // the maker did not sign this file
};

// Surrounding blanks and line ends removed.
std::string TrimmedLine(const std::string& text);
// True for an absolute https URL (scheme in any letter case).
bool IsHttpsUrl(const std::string& url);

// The key this build was made with; nothing when it holds none.
std::optional<P256PublicPoint> BuiltInUpgradeKey();

UpgradeRefusal CheckBeforeDownload(const std::string& pageUrl, const std::string& link,
                                   const std::string& publishedDigest, bool bHaveKey);
// The downloaded file against the page's digest and the maker's signature (DER bytes).
UpgradeRefusal CheckDownload(const std::string& path, const std::string& publishedDigest,
                             const std::string& signature, const P256PublicPoint& key);

// What the user is told; `downloadPage` is where a manual upgrade can be fetched.
std::string RefusalMessage(UpgradeRefusal refusal, const std::string& downloadPage);
