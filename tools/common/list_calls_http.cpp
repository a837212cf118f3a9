// The list servers' calls through the shared HTTP client.
#include "list_calls.h"

#include "list_announcement.h"

namespace brassmoor {

bool startListCalls(std::string& error) {
    return startHttpClient(error);
}

void stopListCalls() {
    stopHttpClient();
}

HttpResponse announceTo(const std::string& url, const std::string& source, const std::atomic<bool>& abandon) {
    HttpRequest request;
    request.method = "POST";
    request.url = announceUrl(url);
    request.body = AnnouncementBody;
    request.timeoutMilliseconds = AnnounceTimeoutMilliseconds;
    request.maxBodyBytes = ListAnswerMaxBytes;
    request.sourceAddress = source;
    request.abandon = &abandon;
    return sendHttpRequest(request);
}

HttpResponse withdrawFrom(const std::string& url, const std::string& source, int timeoutMilliseconds) {
    HttpRequest request;
    request.method = "DELETE";
    request.url = announceUrl(url);
    request.timeoutMilliseconds = timeoutMilliseconds;
    request.maxBodyBytes = ListAnswerMaxBytes;
    request.sourceAddress = source;
    return sendHttpRequest(request);
}

}  // namespace brassmoor
