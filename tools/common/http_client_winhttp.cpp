// HTTP requests through Windows' own WinHTTP: the system's TLS and certificate store, no redirects.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "http_client.h"
#include "option_values.h"
#include "program_entry.h"
#include "wide_text_windows.h"

namespace brassmoor {

namespace {

std::string failure(const char* step) {
    const DWORD code = GetLastError();
    if (code == ERROR_WINHTTP_TIMEOUT) return std::string(step) + ": timed out";
    if (code == ERROR_WINHTTP_CANNOT_CONNECT) return std::string(step) + ": cannot connect";
    if (code == ERROR_WINHTTP_NAME_NOT_RESOLVED) return std::string(step) + ": the name does not resolve";
    if (code == ERROR_WINHTTP_SECURE_FAILURE || code == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) {
        return std::string(step) + ": the certificate or TLS failed (WinHTTP error " + std::to_string(code) +
               ")";
    }
    return std::string(step) + ": WinHTTP error " + std::to_string(code);
}

struct HandleCloser {
    void operator()(void* handle) const {
        WinHttpCloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

}  // namespace

bool startHttpClient(std::string&) {
    return true;
}
void stopHttpClient() {}

HttpResponse sendHttpRequest(const HttpRequest& request) {
    HttpResponse response;
    if (!request.sourceAddress.empty()) {
        response.error = "choosing the address to connect from is not in this build";
        return response;
    }
    // WinHTTP's calls block whole: a request is given up between them, not inside one.
    const auto abandoned = [&] { return request.abandon != nullptr && request.abandon->load(); };
    // The whole exchange is bounded, connecting included: each step is given what is left of it.
    const int limit = request.timeoutMilliseconds;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(limit);
    const auto timeLeft = [&]() -> int {
        const ULONGLONG now = GetTickCount64();
        return now >= deadline ? 0 : static_cast<int>(deadline - now);
    };
    const std::string timedOut = "timed out after " + std::to_string(limit / 1000) + " s";
    const std::wstring url = wideText(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        response.error = "not an http:// or https:// URL";
        return response;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    const std::wstring agent = wideText("brassmoor/" + formatVersion(projectVersion()));
    const Handle session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        response.error = failure("cannot start WinHTTP");
        return response;
    }
    DWORD noRedirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &noRedirects, sizeof noRedirects);
    const Handle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) {
        response.error = failure("cannot connect");
        return response;
    }
    const std::wstring method = wideText(request.method);
    const Handle exchange(WinHttpOpenRequest(
        connection.get(), method.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!exchange) {
        response.error = failure("cannot make the request");
        return response;
    }
    // A step that would outlast the deadline ends at it (a zero would mean no limit at all).
    const auto boundNextStep = [&] {
        const int left = std::max(timeLeft(), 1);
        WinHttpSetTimeouts(exchange.get(), left, left, left, left);
    };
    boundNextStep();
    std::wstring headers;
    if (!request.body.empty()) headers += L"Content-Type: " + wideText(request.contentType) + L"\r\n";
    if (!request.ifNoneMatch.empty()) headers += L"If-None-Match: " + wideText(request.ifNoneMatch) + L"\r\n";
    const bool sent = WinHttpSendRequest(
        exchange.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
        headers.empty() ? 0 : static_cast<DWORD>(-1L), const_cast<char*>(request.body.data()),
        static_cast<DWORD>(request.body.size()), static_cast<DWORD>(request.body.size()), 0);
    if (sent && !abandoned()) boundNextStep();
    if (!sent || abandoned() || !WinHttpReceiveResponse(exchange.get(), nullptr)) {
        response.error = abandoned() ? "abandoned" : timeLeft() == 0 ? timedOut : failure("no answer");
        return response;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(exchange.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX) ||
        status < 100 || status > 599) {
        response.error = "the answer has no HTTP status";
        return response;
    }
    wchar_t etag[256];
    DWORD etagSize = sizeof etag;
    if (WinHttpQueryHeaders(exchange.get(), WINHTTP_QUERY_ETAG, WINHTTP_HEADER_NAME_BY_INDEX, etag, &etagSize,
                            WINHTTP_NO_HEADER_INDEX)) {
        response.etag = utf8Text(std::wstring(etag, etagSize / sizeof(wchar_t)));
    }
    wchar_t retryAfter[64];
    DWORD retryAfterSize = sizeof retryAfter;
    if (WinHttpQueryHeaders(exchange.get(), WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                            retryAfter, &retryAfterSize, WINHTTP_NO_HEADER_INDEX)) {
        // Seconds alone; an HTTP date (or a longer wait) is read as a day.
        const auto seconds = parseWhole(utf8Text(std::wstring(retryAfter, retryAfterSize / sizeof(wchar_t))));
        response.retryAfterSeconds =
            static_cast<int>(std::min<std::uint64_t>(seconds.value_or(86400), 86400));
    }
    // Checked between reads too, so a server that drips never holds on.
    std::vector<char> buffer(16 * 1024);
    while (true) {
        if (abandoned()) {
            response.error = "abandoned";
            response.body.clear();
            return response;
        }
        if (timeLeft() == 0) {
            response.error = timedOut;
            response.body.clear();
            return response;
        }
        boundNextStep();
        DWORD got = 0;
        if (!WinHttpReadData(exchange.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
            response.error = failure("the answer broke off");
            response.body.clear();
            return response;
        }
        if (got == 0) break;
        if (response.body.size() + got > request.maxBodyBytes) {
            response.error = "the answer is longer than " + std::to_string(request.maxBodyBytes) + " bytes";
            response.body.clear();
            return response;
        }
        response.body.append(buffer.data(), got);
    }
    response.status = static_cast<int>(status);
    response.answered = true;
    return response;
}

}  // namespace brassmoor
