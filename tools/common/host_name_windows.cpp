// The computer's host name on Windows: the DNS host name (gethostname would need Winsock started),
// turned from UTF-16 into UTF-8.
#include "host_name.h"

#include <windows.h>

#include "wide_text_windows.h"

namespace brassmoor {

std::string computerHostName() {
    wchar_t wide[256] = {};
    DWORD length = sizeof wide / sizeof wide[0];
    if (!GetComputerNameExW(ComputerNameDnsHostname, wide, &length) || length == 0) return {};
    return utf8Text(std::wstring(wide, length));
}

}  // namespace brassmoor
