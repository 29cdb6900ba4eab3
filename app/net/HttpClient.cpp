#include "app/net/HttpClient.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace orvane {

namespace {

constexpr std::size_t maxBodyBytes = 1u << 20;
constexpr const char *allowedProtocols = "http,https";

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
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

std::string urlPart(CURLU *url, CURLUPart part) {
    char *value = nullptr;
    if (curl_url_get(url, part, &value, 0) != CURLUE_OK || !value) return {};
    std::string text = value;
    curl_free(value);
    return text;
}

HttpResponse perform(const std::string &url, const std::string *postBody,
                     const NetworkLimits &limits) {
    HttpResponse response;
    if (!isHttpUrl(url)) {
        response.error = "not an http or https URL";
        return response;
    }
    initialiseCurlOnce();
    EasyHandle curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        response.error = "curl_easy_init failed";
        return response;
    }
    BodySink sink;
    CURL *handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, allowedProtocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, allowedProtocols);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    // Signals cannot interrupt a worker thread safely; the timeouts below bound the wait.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(limits.connectMilliseconds));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalMilliseconds));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Halvora");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr,
                                                                        &curl_slist_free_all);
    if (postBody) {
        headers.reset(curl_slist_append(nullptr, "Content-Type: application/json"));
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, postBody->data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(postBody->size()));
    }
    const CURLcode result = curl_easy_perform(handle);
    if (sink.overflowed) {
        response.error = "response larger than 1 MiB";
        return response;
    }
    if (result != CURLE_OK) {
        response.error = curl_easy_strerror(result);
        return response;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    response.answered = true;
    response.status = status;
    response.body = std::move(sink.text);
    return response;
}

} // namespace

bool isHttpUrl(const std::string &text) {
    if (text.empty()) return false;
    UrlHandle url(curl_url(), &curl_url_cleanup);
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return false;
    const std::string scheme = urlPart(url.get(), CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") return false;
    return !urlPart(url.get(), CURLUPART_HOST).empty();
}

HttpResponse httpGet(const std::string &url, const NetworkLimits &limits) {
    return perform(url, nullptr, limits);
}

HttpResponse httpPostJson(const std::string &url, const std::string &body,
                          const NetworkLimits &limits) {
    return perform(url, &body, limits);
}

} // namespace orvane
