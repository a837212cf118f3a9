// A list server's URL, its answers and the announcement schedule.
#include "list_announcement.h"

#include <algorithm>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "ipv4_endpoint.h"
#include "option_values.h"

namespace brassmoor {
namespace {

// A reason is shown on one log line: longer ones are cut.
constexpr std::size_t MaxReasonBytes = 300;

bool isHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// Text from a list, made fit for one log line: control characters become spaces, and a long text is
// cut at a character's boundary (the JSON reader has already refused broken UTF-8).
std::string oneLine(std::string_view text) {
    std::string line(text.substr(0, std::min(text.size(), MaxReasonBytes)));
    if (line.size() < text.size()) {
        while (!line.empty() && (static_cast<unsigned char>(text[line.size()]) & 0xC0) == 0x80)
            line.pop_back();
    }
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return line;
}

// The answer's JSON object, or a discarded value when it is not one.
nlohmann::json answerObject(const HttpResponse& response) {
    nlohmann::json value = nlohmann::json::parse(response.body, nullptr, false);
    if (!value.is_object()) return nlohmann::json(nlohmann::json::value_t::discarded);
    return value;
}

std::string stringField(const nlohmann::json& object, const char* name) {
    const auto field = object.find(name);
    return field != object.end() && field->is_string() ? field->get_ref<const std::string&>() : std::string{};
}

bool isTrue(const nlohmann::json& object, const char* name) {
    const auto field = object.find(name);
    return field != object.end() && field->is_boolean() && field->get<bool>();
}

// Why an answer that came is not a listing: the list's reason, or its status alone.
std::string refusal(const HttpResponse& response, const nlohmann::json& object) {
    const std::string reason = object.is_object() ? oneLine(stringField(object, "reason")) : std::string{};
    if (!reason.empty()) return reason;
    return "the list answered " + std::to_string(response.status) + " without a reason";
}

}  // namespace

bool checkListServerUrl(std::string_view url, std::string& reason) {
    if (url.size() > MaxListServerUrlBytes) {
        reason = "needs a URL of at most " + std::to_string(MaxListServerUrlBytes) + " bytes";
        return false;
    }
    if (!std::all_of(url.begin(), url.end(), [](char c) { return c > ' ' && c < 0x7F; })) {
        reason = "needs a URL of printable ASCII without spaces, such as https://list.example.org";
        return false;
    }
    std::string_view rest = url;
    if (rest.starts_with("https://")) {
        rest.remove_prefix(8);
    } else if (rest.starts_with("http://")) {
        rest.remove_prefix(7);
    } else {
        reason = "needs an http:// or https:// URL, such as https://list.example.org";
        return false;
    }
    if (rest.find_first_of("?#") != std::string_view::npos) {
        reason = "needs the list server's own URL, without a query or fragment (? or #)";
        return false;
    }
    const std::string_view authority = rest.substr(0, rest.find('/'));
    if (authority.find('@') != std::string_view::npos) {
        reason = "needs a URL without a user name or password";
        return false;
    }
    const std::size_t colon = authority.find(':');
    const std::string_view host = authority.substr(0, colon);
    if (host.empty() || !std::all_of(host.begin(), host.end(), isHostCharacter)) {
        reason = "needs a host name or IPv4 address after the scheme, such as https://list.example.org";
        return false;
    }
    if (colon != std::string_view::npos) {
        const auto port = parseWhole(authority.substr(colon + 1));
        if (!port || *port < 1 || *port > 65535) {
            reason = "needs a TCP port from 1 to 65535 after the host";
            return false;
        }
    }
    return true;
}

std::string announceUrl(std::string_view url) {
    while (url.ends_with('/'))
        url.remove_suffix(1);
    return std::string(url) + "/v1/announce";
}

AnnouncementAnswer readAnnouncementAnswer(const HttpResponse& response) {
    AnnouncementAnswer answer;
    if (!response.answered) {
        answer.reason = oneLine(response.error);
        return answer;
    }
    const nlohmann::json object = answerObject(response);
    const bool success = response.status >= 200 && response.status < 300;
    if (success && object.is_object() && isTrue(object, "listed")) {
        std::uint32_t address = 0;
        const std::string shown = stringField(object, "address");
        if (parseIpv4Address(shown, address)) {
            answer.listed = true;
            answer.address = shown;
            return answer;
        }
        answer.reason = "the list's answer names no IPv4 address";
        return answer;
    }
    answer.reason = refusal(response, object);
    answer.retryAfterSeconds =
        std::min(static_cast<double>(response.retryAfterSeconds), MaxRetryAfterSeconds);
    return answer;
}

bool announcementDue(const ListStanding& list, double now) {
    return now >= list.nextAnnounce;
}

std::string announcementAnswered(ListStanding& list, const AnnouncementAnswer& answer, double now) {
    list.nextAnnounce = now + std::max(AnnounceEverySeconds, answer.listed ? 0.0 : answer.retryAfterSeconds);
    if (answer.listed) list.listedOnce = true;
    list.listed = answer.listed;
    std::string line = "list " + list.url + ": " +
                       (answer.listed ? "listed as " + answer.address : "not listed: " + answer.reason);
    if (line == list.lastLine) return {};
    list.lastLine = line;
    return line;
}

std::string withdrawalAnswered(ListStanding& list, const HttpResponse& response) {
    list.listedOnce = false;
    list.listed = false;
    const nlohmann::json object = response.answered ? answerObject(response) : nlohmann::json{};
    std::string line = "list " + list.url + ": ";
    if (response.answered && response.status >= 200 && response.status < 300 && object.is_object()) {
        line += isTrue(object, "removed") ? "removed" : "removed (the list had already dropped the game)";
    } else {
        const std::string why = response.answered ? refusal(response, object) : oneLine(response.error);
        line += "not removed: " + why + "; the list drops the game once it stops answering";
    }
    list.lastLine = line;
    return line;
}

}  // namespace brassmoor
