// HTTP requests through Debian's libcurl: its own TLS with the system's certificates, no signals
// (threads), no redirects, no protocol but HTTP and HTTPS.
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "http_client.h"
#include "option_values.h"
#include "program_entry.h"

namespace brassmoor {

namespace {

struct Reading {
    HttpResponse* response;
    std::size_t limit;
    const std::atomic<bool>* abandon;
    bool tooLong = false;
};

// The longest Retry-After taken as it is; anything longer (or an HTTP date) is read as this.
constexpr int MaxRetryAfterSeconds = 86400;

std::size_t takeBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* reading = static_cast<Reading*>(user);
    const std::size_t bytes = size * count;
    if (reading->response->body.size() + bytes > reading->limit) {
        reading->tooLong = true;
        return 0;  // ends the transfer
    }
    reading->response->body.append(data, bytes);
    return bytes;
}

// The header's value when `line` is header `name` (lower case, with its colon); bounded like the
// body: the headers read here are short tokens.
std::optional<std::string_view> headerValue(std::string_view line, std::string_view name) {
    const auto sameLetter = [](char wanted, char got) {
        return wanted == std::tolower(static_cast<unsigned char>(got));
    };
    if (line.size() <= name.size() || line.size() >= 512 ||
        !std::equal(name.begin(), name.end(), line.begin(), sameLetter)) {
        return std::nullopt;
    }
    return trimBlanks(line.substr(name.size()));
}

std::size_t takeHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* reading = static_cast<Reading*>(user);
    const std::string_view line(data, size * count);
    if (const auto etag = headerValue(line, "etag:")) reading->response->etag = std::string(*etag);
    if (const auto retry = headerValue(line, "retry-after:")) {
        const auto seconds = parseWhole(*retry);
        reading->response->retryAfterSeconds = static_cast<int>(
            std::min<std::uint64_t>(seconds.value_or(MaxRetryAfterSeconds), MaxRetryAfterSeconds));
    }
    return size * count;
}

// Called by libcurl during the transfer, at least about once a second: non-zero gives it up.
int checkAbandoned(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* reading = static_cast<Reading*>(user);
    return reading->abandon != nullptr && reading->abandon->load() ? 1 : 0;
}

// A few steady words for what went wrong: the same failure gives the same text each time (no
// milliseconds in it), so that a caller logging changes logs it once.
std::string failureText(CURLcode result, CURL* handle, const char* detail, const HttpRequest& request) {
    const std::string said = detail[0] != '\0' ? detail : curl_easy_strerror(result);
    switch (result) {
        case CURLE_COULDNT_CONNECT: {
            long systemError = 0;
            curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &systemError);
            return "cannot connect: " + std::string(systemError != 0
                                                        ? std::strerror(static_cast<int>(systemError))
                                                        : curl_easy_strerror(result));
        }
        case CURLE_OPERATION_TIMEDOUT: {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", request.timeoutMilliseconds / 1000.0);
            return "timed out after " + std::string(seconds) + " s";
        }
        case CURLE_COULDNT_RESOLVE_HOST:
            return "the name does not resolve: " + said;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CACERT_BADFILE:
            return "the certificate or TLS failed: " + said;
        case CURLE_ABORTED_BY_CALLBACK:
            return "abandoned";
        case CURLE_INTERFACE_FAILED:
            return "cannot connect from " + request.sourceAddress + ": " + said;
        default:
            return said;
    }
}

struct CurlDeleter {
    void operator()(CURL* handle) const {
        curl_easy_cleanup(handle);
    }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const {
        curl_slist_free_all(list);
    }
};

std::string userAgent() {
    return "brassmoor/" + formatVersion(projectVersion());
}

}  // namespace

bool startHttpClient(std::string& error) {
    const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
        error = std::string("cannot start libcurl: ") + curl_easy_strerror(result);
        return false;
    }
    return true;
}

void stopHttpClient() {
    curl_global_cleanup();
}

HttpResponse sendHttpRequest(const HttpRequest& request) {
    HttpResponse response;
    const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        response.error = "cannot make a libcurl handle";
        return response;
    }
    CURL* handle = curl.get();
    Reading reading{&response, request.maxBodyBytes, request.abandon};
    std::unique_ptr<curl_slist, HeaderListDeleter> headers;
    auto addHeader = [&](const std::string& header) {
        headers.reset(curl_slist_append(headers.release(), header.c_str()));
    };
    const std::string agent = userAgent();
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V4);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMilliseconds));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, takeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reading);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, takeHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &reading);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, checkAbandoned);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &reading);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, request.abandon != nullptr ? 0L : 1L);
    const std::string source = "host!" + request.sourceAddress;
    if (!request.sourceAddress.empty()) curl_easy_setopt(handle, CURLOPT_INTERFACE, source.c_str());
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.method == "POST" || !request.body.empty()) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.c_str());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
        addHeader("Content-Type: " + request.contentType);
    }
    if (!request.ifNoneMatch.empty()) addHeader("If-None-Match: " + request.ifNoneMatch);
    addHeader("Expect:");  // no 100-continue round trip for a small body
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, detail);

    const CURLcode result = curl_easy_perform(handle);
    if (reading.tooLong) {
        response.error = "the answer is longer than " + std::to_string(request.maxBodyBytes) + " bytes";
        response.body.clear();
        return response;
    }
    if (result != CURLE_OK) {
        response.error = failureText(result, handle, detail, request);
        response.body.clear();
        return response;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    response.answered = true;
    return response;
}

}  // namespace brassmoor
