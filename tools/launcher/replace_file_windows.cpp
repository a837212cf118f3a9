// Replacing a file on Windows: a new file of a unique name beside it, FlushFileBuffers, then
// MoveFileExW over the old one, written through.
#include <windows.h>

#include <atomic>

#include "launcher_paths.h"
#include "replace_file.h"

namespace brassmoor {

namespace {

std::string windowsError(DWORD code) {
    return "Windows error " + std::to_string(code);
}

// This process's id, the clock and a counter: no two savers, here or in another launcher, pick one name.
std::wstring uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    return L".new-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()) +
           L"-" + std::to_wstring(counter.fetch_add(1));
}

}  // namespace

bool replaceFile(const std::filesystem::path& file, std::string_view text, std::string& error) {
    const std::wstring target = file.wstring();
    const std::wstring temporary = target + uniqueSuffix();
    const HANDLE handle =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = "cannot write beside " + utf8FromPath(file) + ": " + windowsError(GetLastError());
        return false;
    }
    bool written = true;
    while (written && !text.empty()) {
        DWORD wrote = 0;
        written =
            WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) && wrote > 0;
        text.remove_prefix(wrote);
    }
    written = written && FlushFileBuffers(handle);
    const DWORD writeError = GetLastError();
    CloseHandle(handle);
    if (!written) {
        DeleteFileW(temporary.c_str());
        error = "cannot write " + utf8FromPath(file) + ".new: " + windowsError(writeError);
        return false;
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = "cannot replace " + utf8FromPath(file) + ": " + windowsError(GetLastError());
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace brassmoor
