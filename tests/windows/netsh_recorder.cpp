// Stands in for netsh.exe under wine (whose own does nothing): appends the command line it was
// started with to the file named by BRASSMOOR_NETSH_LOG, so a test sees the installer's firewall commands.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int main() {
    const wchar_t* logPath = _wgetenv(L"BRASSMOOR_NETSH_LOG");
    if (logPath == nullptr || *logPath == L'\0') {
        std::fprintf(stderr, "netsh recorder: BRASSMOOR_NETSH_LOG names no file\n");
        return 1;
    }
    FILE* log = _wfopen(logPath, L"ab");
    if (log == nullptr) {
        std::fprintf(stderr, "netsh recorder: cannot open the log file\n");
        return 1;
    }
    // UTF-8, one command line a line.
    const wchar_t* commandLine = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, text.data(), size, nullptr, nullptr);
    std::fprintf(log, "%s\n", text.c_str());
    std::fclose(log);
    return 0;
}
