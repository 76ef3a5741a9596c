// Small Debian packages, keys and signatures made for the upgrade tests with dpkg-deb and openssl.
#pragma once

#include <filesystem>
#include <string>

// Whether dpkg-deb and openssl are there to make them.
bool CanMakeTestPackages();
// A minimal binary package NAME at VERSION with one file, made in `dir`; its path.
std::string BuildPackage(const std::filesystem::path& dir, const std::string& name,
                         const std::string& version);
// A new P-256 key pair in `dir`: NAME (private) and NAME.pub; the private key's path.
std::string NewKey(const std::filesystem::path& dir, const std::string& name);
// Signs `file` with the private key `key` as the maker does, writing FILE.sig; its bytes.
std::string Sign(const std::string& file, const std::string& key);
std::string FileBytes(const std::string& path);
