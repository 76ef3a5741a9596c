// What the downloaded setup must pass before it runs: the SHA-256 the page publishes, the
// maker's signature over the file, and its version resource. The checks before the download and
// the version rule are in the core.
#pragma once

#include <optional>
#include <string>

#include "core/upgrade/UpgradeRefusal.h"
#include "platform/upgrade/FileSignature.h"

inline constexpr const char* kSignatureFile = "NewUpdate.exe.sig";

// The key this build was made with; nothing when it holds none.
std::optional<P256PublicPoint> BuiltInUpgradeKey();

// Major and minor of the product version in a program's version resource; nothing without one.
std::optional<SetupVersion> ProductVersionOf(const std::wstring& path);
// The running program's version, from its own version resource (1.0 without one).
float RunningVersion();

// The downloaded file against the page's digest and the maker's signature (DER bytes).
UpgradeRefusal CheckDownload(const std::string& path, const std::string& publishedDigest,
                             const std::string& signature, const P256PublicPoint& key);
