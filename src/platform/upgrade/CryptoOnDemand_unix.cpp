// libcrypto for the program, loaded the first time it checks a download rather than linked, so
// the window maps no TLS library at start (the privileged helper links libcrypto itself). These
// definitions stand in for the libcrypto functions PackageCheck_unix.cpp calls and forward to the
// real ones; a libcrypto function used there must be added here.
#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <mutex>

namespace {
struct Crypto {
    decltype(&EVP_MD_CTX_new) mdCtxNew = nullptr;
    decltype(&EVP_MD_CTX_free) mdCtxFree = nullptr;
    decltype(&EVP_DigestInit_ex) digestInit = nullptr;
    decltype(&EVP_DigestUpdate) digestUpdate = nullptr;
    decltype(&EVP_DigestFinal_ex) digestFinal = nullptr;
    decltype(&EVP_sha256) sha256 = nullptr;
    decltype(&BIO_new_mem_buf) bioNewMemBuf = nullptr;
    decltype(&BIO_free) bioFree = nullptr;
    decltype(&PEM_read_bio_PUBKEY) readPubkey = nullptr;
    decltype(&EVP_PKEY_free) pkeyFree = nullptr;
    decltype(&EVP_PKEY_is_a) pkeyIsA = nullptr;
    decltype(&EVP_PKEY_get_group_name) pkeyGroupName = nullptr;
    decltype(&EVP_PKEY_CTX_new) pkeyCtxNew = nullptr;
    decltype(&EVP_PKEY_CTX_free) pkeyCtxFree = nullptr;
    decltype(&EVP_PKEY_verify_init) verifyInit = nullptr;
    decltype(&EVP_PKEY_verify) verify = nullptr;
    bool loaded = false;
};

template <class F>
void Find(void* library, const char* name, F& function, bool& ok) {
    function = reinterpret_cast<F>(dlsym(library, name));
    ok = ok && function;
}

// Without the library every call fails as libcrypto's own calls can fail (no object, 0), which
// the checks take as a signature that does not hold.
const Crypto& Library() {
    static Crypto crypto;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = dlopen("libcrypto.so.3", RTLD_LAZY | RTLD_LOCAL);
        if (!library) return;
        bool ok = true;
        Find(library, "EVP_MD_CTX_new", crypto.mdCtxNew, ok);
        Find(library, "EVP_MD_CTX_free", crypto.mdCtxFree, ok);
        Find(library, "EVP_DigestInit_ex", crypto.digestInit, ok);
        Find(library, "EVP_DigestUpdate", crypto.digestUpdate, ok);
        Find(library, "EVP_DigestFinal_ex", crypto.digestFinal, ok);
        Find(library, "EVP_sha256", crypto.sha256, ok);
        Find(library, "BIO_new_mem_buf", crypto.bioNewMemBuf, ok);
        Find(library, "BIO_free", crypto.bioFree, ok);
        Find(library, "PEM_read_bio_PUBKEY", crypto.readPubkey, ok);
        Find(library, "EVP_PKEY_free", crypto.pkeyFree, ok);
        Find(library, "EVP_PKEY_is_a", crypto.pkeyIsA, ok);
        Find(library, "EVP_PKEY_get_group_name", crypto.pkeyGroupName, ok);
        Find(library, "EVP_PKEY_CTX_new", crypto.pkeyCtxNew, ok);
        Find(library, "EVP_PKEY_CTX_free", crypto.pkeyCtxFree, ok);
        Find(library, "EVP_PKEY_verify_init", crypto.verifyInit, ok);
        Find(library, "EVP_PKEY_verify", crypto.verify, ok);
        crypto.loaded = ok;
    });
    return crypto;
}
}  // namespace

extern "C" {
EVP_MD_CTX* EVP_MD_CTX_new() {
    const Crypto& c = Library();
    return c.loaded ? c.mdCtxNew() : nullptr;
}

void EVP_MD_CTX_free(EVP_MD_CTX* context) {
    const Crypto& c = Library();
    if (c.loaded) c.mdCtxFree(context);
}

int EVP_DigestInit_ex(EVP_MD_CTX* context, const EVP_MD* type, ENGINE* engine) {
    const Crypto& c = Library();
    return c.loaded ? c.digestInit(context, type, engine) : 0;
}

int EVP_DigestUpdate(EVP_MD_CTX* context, const void* data, size_t size) {
    const Crypto& c = Library();
    return c.loaded ? c.digestUpdate(context, data, size) : 0;
}

int EVP_DigestFinal_ex(EVP_MD_CTX* context, unsigned char* digest, unsigned int* size) {
    const Crypto& c = Library();
    return c.loaded ? c.digestFinal(context, digest, size) : 0;
}

const EVP_MD* EVP_sha256() {
    const Crypto& c = Library();
    return c.loaded ? c.sha256() : nullptr;
}

BIO* BIO_new_mem_buf(const void* buffer, int size) {
    const Crypto& c = Library();
    return c.loaded ? c.bioNewMemBuf(buffer, size) : nullptr;
}

int BIO_free(BIO* bio) {
    const Crypto& c = Library();
    return c.loaded ? c.bioFree(bio) : 0;
}

EVP_PKEY* PEM_read_bio_PUBKEY(BIO* bio, EVP_PKEY** key, pem_password_cb* callback, void* data) {
    const Crypto& c = Library();
    return c.loaded ? c.readPubkey(bio, key, callback, data) : nullptr;
}

void EVP_PKEY_free(EVP_PKEY* key) {
    const Crypto& c = Library();
    if (c.loaded) c.pkeyFree(key);
}

int EVP_PKEY_is_a(const EVP_PKEY* key, const char* name) {
    const Crypto& c = Library();
    return c.loaded ? c.pkeyIsA(key, name) : 0;
}

int EVP_PKEY_get_group_name(const EVP_PKEY* key, char* name, size_t size, size_t* length) {
    const Crypto& c = Library();
    return c.loaded ? c.pkeyGroupName(key, name, size, length) : 0;
}

EVP_PKEY_CTX* EVP_PKEY_CTX_new(EVP_PKEY* key, ENGINE* engine) {
    const Crypto& c = Library();
    return c.loaded ? c.pkeyCtxNew(key, engine) : nullptr;
}

void EVP_PKEY_CTX_free(EVP_PKEY_CTX* context) {
    const Crypto& c = Library();
    if (c.loaded) c.pkeyCtxFree(context);
}

int EVP_PKEY_verify_init(EVP_PKEY_CTX* context) {
    const Crypto& c = Library();
    return c.loaded ? c.verifyInit(context) : 0;
}

int EVP_PKEY_verify(EVP_PKEY_CTX* context, const unsigned char* signature, size_t signatureSize,
                    const unsigned char* digest, size_t digestSize) {
    const Crypto& c = Library();
    return c.loaded ? c.verify(context, signature, signatureSize, digest, digestSize) : 0;
}
}
