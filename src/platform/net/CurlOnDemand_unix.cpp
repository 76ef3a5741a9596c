// libcurl, loaded the first time the program fetches something. Linked at start it brought two
// dozen libraries (TLS, Kerberos, LDAP, SSH...) into every start of a window that may never
// fetch anything. These definitions stand in for the libcurl functions the program calls and
// forward to the real ones; a libcurl function used anywhere else must be added here.
#define CURL_DISABLE_TYPECHECK  // the checking macros would rename the definitions below
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <mutex>

namespace {
struct Curl {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_perform) easyPerform = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;
    decltype(&curl_free) free = nullptr;
    decltype(&curl_url) url = nullptr;
    decltype(&curl_url_cleanup) urlCleanup = nullptr;
    decltype(&curl_url_get) urlGet = nullptr;
    decltype(&curl_url_set) urlSet = nullptr;
    bool loaded = false;
};

template <class F>
void Find(void* library, const char* name, F& function, bool& ok) {
    function = reinterpret_cast<F>(dlsym(library, name));
    ok = ok && function;
}

// Without the library every call fails as libcurl's own calls can fail (no handle, an error
// code), which the fetcher reports as no connection.
const Curl& Library() {
    static Curl curl;
    static std::once_flag once;
    std::call_once(once, [] {
        // Lazy binding, as at a normal start: binding all of libcurl's and its TLS stack's
        // symbols at once costs a fetch about a millisecond.
        void* library = dlopen("libcurl.so.4", RTLD_LAZY | RTLD_LOCAL);
        if (!library) return;
        bool ok = true;
        Find(library, "curl_global_init", curl.globalInit, ok);
        Find(library, "curl_easy_init", curl.easyInit, ok);
        Find(library, "curl_easy_setopt", curl.easySetopt, ok);
        Find(library, "curl_easy_perform", curl.easyPerform, ok);
        Find(library, "curl_easy_cleanup", curl.easyCleanup, ok);
        Find(library, "curl_slist_append", curl.slistAppend, ok);
        Find(library, "curl_slist_free_all", curl.slistFreeAll, ok);
        Find(library, "curl_free", curl.free, ok);
        Find(library, "curl_url", curl.url, ok);
        Find(library, "curl_url_cleanup", curl.urlCleanup, ok);
        Find(library, "curl_url_get", curl.urlGet, ok);
        Find(library, "curl_url_set", curl.urlSet, ok);
        curl.loaded = ok;
    });
    return curl;
}
}  // namespace

extern "C" {
CURLcode curl_global_init(long flags) {
    const Curl& curl = Library();
    return curl.loaded ? curl.globalInit(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init() {
    const Curl& curl = Library();
    return curl.loaded ? curl.easyInit() : nullptr;
}

CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
    const Curl& curl = Library();
    if (!curl.loaded) return CURLE_FAILED_INIT;
    // The option's number says the type of its one argument, as libcurl itself reads it.
    va_list args;
#if defined(__clang__)
#pragma clang diagnostic push
// The last named parameter is curl's enum, as its declaration fixes; an int-sized enum is not
// changed by the promotion clang warns about.
#pragma clang diagnostic ignored "-Wvarargs"
#endif
    va_start(args, option);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    CURLcode result;
    if (option < CURLOPTTYPE_OBJECTPOINT)
        result = curl.easySetopt(handle, option, va_arg(args, long));
    else if (option < CURLOPTTYPE_FUNCTIONPOINT)
        result = curl.easySetopt(handle, option, va_arg(args, void*));
    else if (option < CURLOPTTYPE_OFF_T)
        result = curl.easySetopt(handle, option, va_arg(args, void (*)()));
    else if (option < CURLOPTTYPE_BLOB)
        result = curl.easySetopt(handle, option, va_arg(args, curl_off_t));
    else
        result = curl.easySetopt(handle, option, va_arg(args, void*));
    va_end(args);
    return result;
}

CURLcode curl_easy_perform(CURL* handle) {
    const Curl& curl = Library();
    return curl.loaded ? curl.easyPerform(handle) : CURLE_FAILED_INIT;
}

void curl_easy_cleanup(CURL* handle) {
    const Curl& curl = Library();
    if (curl.loaded) curl.easyCleanup(handle);
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
    const Curl& curl = Library();
    return curl.loaded ? curl.slistAppend(list, text) : nullptr;
}

void curl_slist_free_all(curl_slist* list) {
    const Curl& curl = Library();
    if (curl.loaded) curl.slistFreeAll(list);
}

void curl_free(void* pointer) {
    const Curl& curl = Library();
    if (curl.loaded) curl.free(pointer);
}

CURLU* curl_url() {
    const Curl& curl = Library();
    return curl.loaded ? curl.url() : nullptr;
}

void curl_url_cleanup(CURLU* handle) {
    const Curl& curl = Library();
    if (curl.loaded) curl.urlCleanup(handle);
}

CURLUcode curl_url_get(CURLU* handle, CURLUPart what, char** part, unsigned int flags) {
    const Curl& curl = Library();
    return curl.loaded ? curl.urlGet(handle, what, part, flags) : CURLUE_OUT_OF_MEMORY;
}

CURLUcode curl_url_set(CURLU* handle, CURLUPart what, const char* part, unsigned int flags) {
    const Curl& curl = Library();
    return curl.loaded ? curl.urlSet(handle, what, part, flags) : CURLUE_OUT_OF_MEMORY;
}
}
