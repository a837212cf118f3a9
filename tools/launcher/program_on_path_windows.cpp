// PATH on Windows: semicolon-separated folders, searched by SearchPathW given exactly those folders
// (given none, it would look in the current folder too), only absolute ones.
#include <windows.h>

#include <string>
#include <vector>

#include "program_on_path.h"
#include "wide_text_windows.h"

namespace brassmoor {

namespace {

bool isAbsoluteFolder(const std::wstring& folder) {
    return (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
           (folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\');
}

}  // namespace

std::string findProgramOnPath(const std::string& name) {
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) return {};
    std::vector<wchar_t> value(size);
    const DWORD length = GetEnvironmentVariableW(L"PATH", value.data(), size);
    if (length == 0 || length >= size) return {};
    std::wstring folders;
    for (std::size_t start = 0; start <= length;) {
        std::size_t end = start;
        while (end < length && value[end] != L';')
            ++end;
        std::wstring folder(value.data() + start, end - start);
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        if (isAbsoluteFolder(folder)) folders += (folders.empty() ? L"" : L";") + folder;
        start = end + 1;
    }
    if (folders.empty()) return {};
    const std::wstring wideName = wideText(name);
    std::vector<wchar_t> found(MAX_PATH);
    DWORD foundLength = SearchPathW(folders.c_str(), wideName.c_str(), nullptr,
                                    static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (foundLength >= found.size()) {
        found.resize(foundLength + 1);
        foundLength = SearchPathW(folders.c_str(), wideName.c_str(), nullptr,
                                  static_cast<DWORD>(found.size()), found.data(), nullptr);
    }
    if (foundLength == 0 || foundLength >= found.size()) return {};
    return utf8Text(std::wstring(found.data(), foundLength));
}

}  // namespace brassmoor
