// The checks of a downloaded package, shared by the program and the privileged upgrade helper:
// SHA-256 and the maker's ECDSA signature with libcrypto, the package's fields and the ordering
// of versions with dpkg.
#include "platform/upgrade/PackageCheck_unix.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <sstream>

#include "core/upgrade/EcdsaSignature.h"
#include "platform/system/Spawn_unix.h"

namespace {
const char* const kDpkgDeb = "/usr/bin/dpkg-deb";
const char* const kDpkg = "/usr/bin/dpkg";

// argv with standard input from /dev/null and standard error on errorFd (inherited when -1), in
// `environment` (the caller's own when empty).
ChildSetup Setup(std::vector<std::string> argv, const std::vector<std::string>& environment,
                 int errorFd) {
    ChildSetup setup;
    setup.argv = std::move(argv);
    if (!environment.empty()) setup.environment = environment;
    setup.inputPath = "/dev/null";
    setup.errorFd = errorFd;
    return setup;
}

std::string Trimmed(const std::string& text) {
    const char* const blanks = " \t\r\n";
    const std::size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

std::string FieldValue(const std::string& output, const std::string& field) {
    std::istringstream lines(output);
    std::string line;
    const std::string prefix = field + ":";
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) != 0) continue;
        return Trimmed(line.substr(prefix.size()));
    }
    return {};
}

using Digest = std::array<unsigned char, 32>;

std::optional<Digest> Sha256OfFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    char buffer[65536];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        ok = EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(got)) == 1;
    }
    ::close(fd);
    Digest digest{};
    unsigned length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 ||
        length != digest.size())
        return std::nullopt;
    return digest;
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
}  // namespace

std::optional<std::string> RunAndRead(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment, int errorFd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    ChildSetup setup = Setup(argv, environment, errorFd);
    setup.outputFd = fds[1];
    const pid_t pid = StartChild(setup);
    ::close(fds[1]);
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        // Package fields and keys are short; anything far longer is not an answer to read.
        if (output.size() < (1u << 20)) output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    if (WaitForChild(pid) != 0) return std::nullopt;
    return output;
}

std::optional<PackageFields> ReadPackageFields(const std::string& debPath,
                                               const std::vector<std::string>& environment,
                                               int errorFd) {
    const std::optional<std::string> output =
        RunAndRead({kDpkgDeb, "--field", debPath, "Package", "Version"}, environment, errorFd);
    if (!output) return std::nullopt;
    PackageFields fields{FieldValue(*output, "Package"), FieldValue(*output, "Version")};
    if (fields.name.empty() || fields.version.empty()) return std::nullopt;
    return fields;
}

bool IsNewerPackageVersion(const std::string& candidate, const std::string& current,
                           const std::vector<std::string>& environment, int errorFd) {
    return RunChild(Setup({kDpkg, "--compare-versions", candidate, "gt", current}, environment,
                          errorFd)) == 0;
}

std::string Sha256HexOfFile(const std::string& path) {
    const std::optional<Digest> digest = Sha256OfFile(path);
    if (!digest) return {};
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : *digest) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 15]);
    }
    return hex;
}

bool IsMakerKey(const std::string& pem) {
    return MakerKey(pem) != nullptr;
}

bool SignedByMaker(const std::string& path, const std::string& derSignature,
                   const std::string& pem) {
    // The same strict form the Windows program accepts: one DER SEQUENCE of r and s, nothing else.
    if (!DerToRawP256Signature(derSignature)) return false;
    const KeyPtr key = MakerKey(pem);
    const std::optional<Digest> digest = key ? Sha256OfFile(path) : std::nullopt;
    if (!digest) return false;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new(key.get(), nullptr), &EVP_PKEY_CTX_free);
    return context && EVP_PKEY_verify_init(context.get()) == 1 &&
           EVP_PKEY_verify(context.get(),
                           reinterpret_cast<const unsigned char*>(derSignature.data()),
                           derSignature.size(), digest->data(), digest->size()) == 1;
}

UpgradeRefusal CheckSignedPackage(const std::string& debPath, const std::string& derSignature,
                                  const std::string& makerKeyPem, const std::string& current,
                                  PackageFields& fields,
                                  const std::vector<std::string>& environment) {
    // The fields of a file the maker did not sign could say anything.
    if (!SignedByMaker(debPath, derSignature, makerKeyPem)) return UpgradeRefusal::kBadSignature;
    return CheckPackageFields(debPath, current, fields, environment);
}

UpgradeRefusal CheckPackageFields(const std::string& debPath, const std::string& current,
                                  PackageFields& fields,
                                  const std::vector<std::string>& environment, int errorFd) {
    const std::optional<PackageFields> read = ReadPackageFields(debPath, environment, errorFd);
    if (!read || read->name != kPackageName) return UpgradeRefusal::kNotOurPackage;
    if (!IsNewerPackageVersion(read->version, current, environment, errorFd))
        return UpgradeRefusal::kNotNewer;
    fields = *read;
    return UpgradeRefusal::kNone;
}

std::string UpgradeHelperInputHead(const std::string& derSignature) {
    static const char kDigits[] = "0123456789abcdef";
    std::string head;
    for (const char c : derSignature) {
        const auto byte = static_cast<unsigned char>(c);
        head.push_back(kDigits[byte >> 4]);
        head.push_back(kDigits[byte & 15]);
    }
    head.push_back('\n');
    return head;
}
