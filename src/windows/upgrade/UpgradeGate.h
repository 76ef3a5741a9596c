// The maker's key of this build and the version resources of programs: what the downloaded setup
// is checked with (SetupInstaller). The version rule is in the core.
#pragma once

#include <optional>
#include <string>

#include "core/upgrade/UpgradeRefusal.h"
#include "platform/upgrade/FileSignature.h"

// The key this build was made with; nothing when it holds none.
std::optional<P256PublicPoint> BuiltInUpgradeKey();
// A key written as 04 || X || Y in 130 hexadecimal digits; nothing for anything else.
std::optional<P256PublicPoint> P256PointFromHex(const std::string& hex);

// Major and minor of the product version in a program's version resource; nothing without one.
std::optional<SetupVersion> ProductVersionOf(const std::wstring& path);
// The running program's version, from its own version resource (1.0 without one).
float RunningVersion();
