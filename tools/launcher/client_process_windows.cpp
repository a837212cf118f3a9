// The game program on Windows: found beside the launcher or with SearchPathW, run with CreateProcessW
// inside a job that ends it should the launcher end first.
#include <windows.h>

#include <vector>

#include "client_process.h"

namespace brassmoor {

namespace {

constexpr const wchar_t* ClientName = L"brassmoor.exe";

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                        nullptr);
    return result;
}

bool isFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring ownFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    while (true) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            const std::wstring path(buffer.data(), length);
            const std::size_t slash = path.find_last_of(L"\\/");
            return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string windowsError(DWORD code) {
    return "Windows error " + std::to_string(code);
}

}  // namespace

std::optional<ClientProgram> findClientProgram() {
    if (const std::wstring folder = ownFolder(); !folder.empty()) {
        const std::wstring beside = folder + L"\\" + ClientName;
        if (isFile(beside)) return ClientProgram{narrow(beside)};
    }
    std::vector<wchar_t> found(MAX_PATH);
    DWORD length = SearchPathW(nullptr, ClientName, nullptr, static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length >= found.size()) {
        found.resize(length + 1);
        length = SearchPathW(nullptr, ClientName, nullptr, static_cast<DWORD>(found.size()), found.data(), nullptr);
    }
    if (length == 0 || length >= found.size()) return std::nullopt;
    return ClientProgram{narrow(std::wstring(found.data(), length))};
}

bool startClient(const ClientProgram& program, const std::string& address, ClientProcess& process,
                 std::string& error) {
    const std::wstring path = wide(program.path);
    // The address is a checked dotted-decimal text, so it needs no quoting; the path may hold spaces.
    std::wstring commandLine = L"\"" + path + L"\" " + wide(address);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &started)) {
        error = "cannot start " + program.path + ": " + windowsError(GetLastError());
        return false;
    }
    // Closing the last handle to this job ends the game, so a launcher ended by force (its console
    // closed) takes the game with it. Without a job the game simply outlives it.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
            !AssignProcessToJobObject(job, started.hProcess)) {
            CloseHandle(job);
            job = nullptr;
        }
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process.id = started.dwProcessId;
    process.handle = started.hProcess;
    process.jobHandle = job;
    return true;
}

std::optional<int> clientExitStatus(ClientProcess& process, int waitMilliseconds) {
    const DWORD waited = WaitForSingleObject(process.handle, static_cast<DWORD>(waitMilliseconds));
    if (waited == WAIT_TIMEOUT) return std::nullopt;
    DWORD code = 1;
    GetExitCodeProcess(process.handle, &code);
    CloseHandle(process.handle);
    process.handle = nullptr;
    if (process.jobHandle != nullptr) {
        CloseHandle(process.jobHandle);
        process.jobHandle = nullptr;
    }
    return static_cast<int>(code);
}

int stopClient(ClientProcess& process, int graceMilliseconds) {
    // The game keeps nothing, so ending it at once loses nothing.
    TerminateProcess(process.handle, 1);
    const std::optional<int> status = clientExitStatus(process, graceMilliseconds);
    return status ? *status : 1;
}

}  // namespace brassmoor
