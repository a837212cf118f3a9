// IPv4 addresses and endpoints in text: strict dotted decimal, so nothing ambiguous is taken.
#include "ipv4_endpoint.h"

#include <charconv>

namespace brassmoor {

namespace {

// A decimal number of 1 to `maxDigits` digits, without a leading zero, at most `maxValue`;
// consumed from the front of `text`.
bool takeNumber(std::string_view& text, std::size_t maxDigits, std::uint32_t maxValue, std::uint32_t& value) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == 0 || digits > maxDigits || (digits > 1 && text.front() == '0')) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + digits, value);
    if (error != std::errc{} || end != text.data() + digits || value > maxValue) return false;
    text.remove_prefix(digits);
    return true;
}

}  // namespace

bool operator==(const Ipv4Endpoint& a, const Ipv4Endpoint& b) {
    return a.address == b.address && a.port == b.port;
}

namespace {

// Takes the dotted address from the front of `text`.
bool takeIpv4Address(std::string_view& text, std::uint32_t& address) {
    std::uint32_t taken = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') return false;
            text.remove_prefix(1);
        }
        std::uint32_t byte = 0;
        if (!takeNumber(text, 3, 255, byte)) return false;
        taken = (taken << 8) | byte;
    }
    address = taken;
    return true;
}

}  // namespace

bool parseIpv4Address(std::string_view text, std::uint32_t& address) {
    std::uint32_t taken = 0;
    if (!takeIpv4Address(text, taken) || !text.empty()) return false;
    address = taken;
    return true;
}

bool parseIpv4Endpoint(std::string_view text, Ipv4Endpoint& endpoint) {
    std::uint32_t address = 0;
    if (!takeIpv4Address(text, address)) return false;
    if (text.empty() || text.front() != ':') return false;
    text.remove_prefix(1);
    std::uint32_t port = 0;
    if (!takeNumber(text, 5, 65535, port) || !text.empty()) return false;
    endpoint = Ipv4Endpoint{address, static_cast<std::uint16_t>(port)};
    return true;
}

std::string formatIpv4Address(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string formatIpv4Endpoint(const Ipv4Endpoint& endpoint) {
    return formatIpv4Address(endpoint.address) + ":" + std::to_string(endpoint.port);
}

}  // namespace brassmoor
