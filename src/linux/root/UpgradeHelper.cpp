// The privileged upgrade helper's logic. Nothing the user hands over is trusted: the package
// arrives as a stream, never as a path opened as root; it is copied once into a folder only root
// can enter, and the maker's signature, the package's name and version and the installation all
// work on that copy, so whatever happens to the user's file afterwards changes nothing.
#include "linux/root/UpgradeHelper.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "linux/root/PackageUpgrade.h"

namespace {
// Far above any real package of this program.
constexpr off_t kMaxPackageSize = 512LL * 1024 * 1024;
// A DER ECDSA P-256 signature is at most 72 bytes; room for a larger curve, no more.
constexpr std::size_t kMaxSignatureSize = 256;

void Complain(const char* what) {
    std::fprintf(stderr, "vantrel-upgrade-helper: %s\n", what);
}

// The versions dpkg accepts, and nothing that could dress up the authentication prompt.
bool IsPlainVersion(const std::string& version) {
    return !version.empty() && version.size() <= 64 &&
           std::isdigit(static_cast<unsigned char>(version[0])) &&
           std::all_of(version.begin(), version.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '.' || c == '+' || c == '~' || c == '-' || c == ':';
           });
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The first line of the stream, read a byte at a time so not one byte of the package is taken.
std::optional<std::vector<unsigned char>> ReadSignatureLine(int fd) {
    std::string hex;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        if (c == '\n') break;
        if (hex.size() >= 2 * kMaxSignatureSize) return std::nullopt;
        hex.push_back(c);
    }
    if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexValue(hex[i]);
        const int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return bytes;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the rest of the stream to `target` (created new, mode 0600).
bool CopyStream(int in, const std::string& target) {
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) return false;
    bool ok = true;
    off_t total = 0;
    char buffer[65536];
    while (ok) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        total += got;
        ok = total <= kMaxPackageSize && WriteAll(out, buffer, static_cast<std::size_t>(got));
    }
    ok = total > 0 && ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    return ok;
}

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// The maker's key, only when it is an ECDSA key on P-256.
KeyPtr MakerKey(const std::string& pem) {
    KeyPtr none(nullptr, &EVP_PKEY_free);
    if (pem.empty()) return none;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
    if (!bio) return none;
    KeyPtr key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
    char group[64] = {};
    std::size_t length = 0;
    if (!key || !EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_group_name(key.get(), group, sizeof group, &length) != 1 ||
        std::string(group) != "prime256v1")
        return none;
    return key;
}

// SHA-256 over the whole file, checked against the DER signature with the maker's key.
bool SignedByMaker(EVP_PKEY* key, const std::string& path,
                   const std::vector<unsigned char>& signature) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    bool ok =
        context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1;
    char buffer[65536];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        ok = EVP_DigestVerifyUpdate(context.get(), buffer, static_cast<std::size_t>(got)) == 1;
    }
    ::close(fd);
    return ok && EVP_DigestVerifyFinal(context.get(), signature.data(), signature.size()) == 1;
}

// Removes the private folder on every way out.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& base) {
        std::string pattern = base + "/vantrel-upgrade-XXXXXX";
        if (::mkdtemp(pattern.data())) m_path = pattern;
    }
    ~ScratchDir() {
        std::error_code error;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::optional<std::string> InstalledVersion(const UpgradeHelperSetup& setup) {
    return RunAndRead({setup.strDpkgQuery, "-W", "-f=${Version}", kPackageName}, setup.environment);
}

int Refuse() {
    Complain(
        "refused: this is not a newer vantrel package of the version named, signed by "
        "Vantrel's maker");
    return kUpgradeRefused;
}
}  // namespace

int RunUpgradeHelper(const std::vector<std::string>& args, int inputFd,
                     const UpgradeHelperSetup& setup) {
    const KeyPtr key = MakerKey(setup.strPublicKeyPem);
    if (!key) {
        Complain("this build holds no maker's key (ECDSA P-256), so it installs no upgrade");
        return kUpgradeRefused;
    }
    if (args.size() == 1 && args[0] == "--can-verify") return kUpgradeOk;
    if (args.size() != 2 || args[0] != kPackageName || !IsPlainVersion(args[1])) return Refuse();
    const std::string& version = args[1];

    const std::optional<std::vector<unsigned char>> signature = ReadSignatureLine(inputFd);
    if (!signature) return Refuse();
    const ScratchDir scratch(setup.strScratchBase);
    if (scratch.Path().empty()) return Refuse();
    // apt-get names a local package by a path; its own name must not look like an option.
    const std::string copy = scratch.Path() + "/vantrel-upgrade.deb";
    if (!CopyStream(inputFd, copy) || !SignedByMaker(key.get(), copy, *signature)) return Refuse();

    const std::optional<PackageFields> fields = ReadPackageFields(copy, setup.environment);
    if (!fields || fields->name != kPackageName || fields->version != version) return Refuse();
    const std::optional<std::string> installed = InstalledVersion(setup);
    if (!installed || installed->empty() ||
        !IsNewerPackageVersion(fields->version, *installed, setup.environment))
        return Refuse();

    // apt-get reads the copy as root; its download sandbox user need not see it.
    std::vector<std::string> install = setup.installCommand;
    install.push_back(copy);
    if (RunForStatus(install, setup.environment) != 0) return kUpgradeInstallFailed;
    const std::optional<std::string> now = InstalledVersion(setup);
    return now && *now == version ? kUpgradeOk : kUpgradeInstallFailed;
}
