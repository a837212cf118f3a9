// Brassmoor's own folders on Windows: %APPDATA%\Brassmoor for settings, %LOCALAPPDATA%\Brassmoor for the log.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdlib>

#include "user_folders.h"
#include "wide_text_windows.h"

namespace brassmoor {

namespace {

// The known folder as Windows says it, else the environment's name for it; empty when neither knows.
std::wstring knownFolder(REFKNOWNFOLDERID id, const wchar_t* variable) {
    std::wstring folder;
    PWSTR path = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr)
        folder = path;
    CoTaskMemFree(path);
    if (folder.empty()) {
        const wchar_t* value = _wgetenv(variable);
        if (value != nullptr) folder = value;
    }
    return folder;
}

std::string brassmoorFolderIn(const std::wstring& folder) {
    return folder.empty() ? std::string() : utf8Text(folder + L"\\Brassmoor");
}

}  // namespace

UserFolders userFolders() {
    UserFolders folders;
    folders.config = brassmoorFolderIn(knownFolder(FOLDERID_RoamingAppData, L"APPDATA"));
    folders.state = brassmoorFolderIn(knownFolder(FOLDERID_LocalAppData, L"LOCALAPPDATA"));
    return folders;
}

// Windows has no system-wide list of list servers: each user's file alone.
std::string systemConfigFolder() {
    return {};
}

}  // namespace brassmoor
