#include "app/net/HttpClient.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include <dlfcn.h>

namespace orvane {

namespace {

constexpr std::size_t maxBodyBytes = 1u << 20;
constexpr const char *allowedProtocols = "http,https";

/// libcurl's entry points, opened the first time the network is used: the command-line verbs
/// never use it, and start without loading it and the two dozen libraries it brings.
struct Curl {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_easy_setopt) setOption = nullptr;
    decltype(&curl_easy_perform) easyPerform = nullptr;
    decltype(&curl_easy_getinfo) getInfo = nullptr;
    decltype(&curl_easy_strerror) describe = nullptr;
    decltype(&curl_slist_append) listAppend = nullptr;
    decltype(&curl_slist_free_all) listFree = nullptr;
    decltype(&curl_url) newUrl = nullptr;
    decltype(&curl_url_cleanup) urlCleanup = nullptr;
    decltype(&curl_url_get) urlGet = nullptr;
    decltype(&curl_url_set) urlSet = nullptr;
    decltype(&curl_free) release = nullptr;
};

template <typename Entry> bool bindEntry(void *library, const char *name, Entry &entry) {
    entry = reinterpret_cast<Entry>(dlsym(library, name));
    return entry != nullptr;
}

bool bindCurl(void *library, Curl &curl) {
    return bindEntry(library, "curl_global_init", curl.globalInit) &&
           bindEntry(library, "curl_easy_init", curl.easyInit) &&
           bindEntry(library, "curl_easy_cleanup", curl.easyCleanup) &&
           bindEntry(library, "curl_easy_setopt", curl.setOption) &&
           bindEntry(library, "curl_easy_perform", curl.easyPerform) &&
           bindEntry(library, "curl_easy_getinfo", curl.getInfo) &&
           bindEntry(library, "curl_easy_strerror", curl.describe) &&
           bindEntry(library, "curl_slist_append", curl.listAppend) &&
           bindEntry(library, "curl_slist_free_all", curl.listFree) &&
           bindEntry(library, "curl_url", curl.newUrl) &&
           bindEntry(library, "curl_url_cleanup", curl.urlCleanup) &&
           bindEntry(library, "curl_url_get", curl.urlGet) &&
           bindEntry(library, "curl_url_set", curl.urlSet) &&
           bindEntry(library, "curl_free", curl.release);
}

/// The loaded library, initialised once; null with `error` set when it cannot be opened.
const Curl *loadedCurl(std::string &error) {
    static Curl curl;
    static std::string failure;
    static std::once_flag once;
    std::call_once(once, [] {
        void *library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            failure = std::string("the network library cannot be loaded: ") + dlerror();
        } else if (!bindCurl(library, curl)) {
            failure = "the network library lacks an entry point";
        } else if (curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            failure = "the network library cannot start";
        }
    });
    error = failure;
    return failure.empty() ? &curl : nullptr;
}

struct BodySink {
    std::string text;
    bool overflowed = false;
};

std::size_t appendBody(char *data, std::size_t size, std::size_t count, void *user) {
    auto *sink = static_cast<BodySink *>(user);
    const std::size_t bytes = size * count;
    if (sink->text.size() + bytes > maxBodyBytes) {
        sink->overflowed = true;
        return 0; // ends the transfer
    }
    sink->text.append(data, bytes);
    return bytes;
}

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

std::string urlPart(const Curl &curl, CURLU *url, CURLUPart part) {
    char *value = nullptr;
    if (curl.urlGet(url, part, &value, 0) != CURLUE_OK || !value) return {};
    std::string text = value;
    curl.release(value);
    return text;
}

bool isHttpUrlWith(const Curl &curl, const std::string &text) {
    if (text.empty()) return false;
    UrlHandle url(curl.newUrl(), curl.urlCleanup);
    if (!url || curl.urlSet(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return false;
    const std::string scheme = urlPart(curl, url.get(), CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") return false;
    return !urlPart(curl, url.get(), CURLUPART_HOST).empty();
}

HttpResponse perform(const std::string &url, const std::string *postBody,
                     const NetworkLimits &limits) {
    HttpResponse response;
    const Curl *library = loadedCurl(response.error);
    if (!library) return response;
    const Curl &curl = *library;
    if (!isHttpUrlWith(curl, url)) {
        response.error = "not an http or https URL";
        return response;
    }
    EasyHandle easy(curl.easyInit(), curl.easyCleanup);
    if (!easy) {
        response.error = "curl_easy_init failed";
        return response;
    }
    BodySink sink;
    CURL *handle = easy.get();
    curl.setOption(handle, CURLOPT_URL, url.c_str());
    curl.setOption(handle, CURLOPT_PROTOCOLS_STR, allowedProtocols);
    curl.setOption(handle, CURLOPT_REDIR_PROTOCOLS_STR, allowedProtocols);
    curl.setOption(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl.setOption(handle, CURLOPT_MAXREDIRS, 5L);
    // Signals cannot interrupt a worker thread safely; the timeouts below bound the wait.
    curl.setOption(handle, CURLOPT_NOSIGNAL, 1L);
    curl.setOption(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(limits.connectMilliseconds));
    curl.setOption(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalMilliseconds));
    curl.setOption(handle, CURLOPT_WRITEFUNCTION, &appendBody);
    curl.setOption(handle, CURLOPT_WRITEDATA, &sink);
    curl.setOption(handle, CURLOPT_USERAGENT, "Halvora");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr, curl.listFree);
    if (postBody) {
        headers.reset(curl.listAppend(nullptr, "Content-Type: application/json"));
        curl.setOption(handle, CURLOPT_HTTPHEADER, headers.get());
        curl.setOption(handle, CURLOPT_POSTFIELDS, postBody->data());
        curl.setOption(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(postBody->size()));
    }
    const CURLcode result = curl.easyPerform(handle);
    if (sink.overflowed) {
        response.error = "response larger than 1 MiB";
        return response;
    }
    if (result != CURLE_OK) {
        response.error = curl.describe(result);
        return response;
    }
    long status = 0;
    curl.getInfo(handle, CURLINFO_RESPONSE_CODE, &status);
    response.answered = true;
    response.status = status;
    response.body = std::move(sink.text);
    return response;
}

} // namespace

bool isHttpUrl(const std::string &text) {
    std::string error;
    const Curl *curl = loadedCurl(error);
    return curl && isHttpUrlWith(*curl, text);
}

HttpResponse httpGet(const std::string &url, const NetworkLimits &limits) {
    return perform(url, nullptr, limits);
}

HttpResponse httpPostJson(const std::string &url, const std::string &body,
                          const NetworkLimits &limits) {
    return perform(url, &body, limits);
}

} // namespace orvane
