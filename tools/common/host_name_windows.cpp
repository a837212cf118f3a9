// The computer's host name on Windows: the DNS host name (gethostname would need Winsock started),
// turned from UTF-16 into UTF-8.
#include "host_name.h"

#include <windows.h>

namespace brassmoor {

std::string computerHostName() {
    wchar_t wide[256] = {};
    DWORD length = sizeof wide / sizeof wide[0];
    if (!GetComputerNameExW(ComputerNameDnsHostname, wide, &length) || length == 0) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string name(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), name.data(), bytes, nullptr, nullptr);
    return name;
}

}  // namespace brassmoor
