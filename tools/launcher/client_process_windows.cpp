// The game program on Windows: found beside the launcher or on PATH, run with CreateProcessW
// without a console window, inside a job that ends it should the launcher end first; its standard
// error comes through a pipe that is looked into without waiting.
#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "client_process.h"
#include "program_on_path.h"
#include "wide_text_windows.h"

namespace brassmoor {

namespace {

constexpr const wchar_t* ClientName = L"brassmoor.exe";

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

HANDLE pipeOf(const ClientProcess& process) {
    return reinterpret_cast<HANDLE>(process.errorPipe);
}

void closeErrorPipe(ClientProcess& process) {
    if (process.errorPipe == -1) return;
    CloseHandle(pipeOf(process));
    process.errorPipe = -1;
}

// Passes on to the launcher's standard error as it is: the game's lines already end in CR LF, which
// the text-mode stream would turn into CR CR LF. Without a usable standard error it goes nowhere.
void passOn(const char* data, DWORD size) {
    std::fflush(stderr);
    const int descriptor = _fileno(stderr);  // negative in a GUI program started without one
    if (descriptor < 0) return;
    const HANDLE error = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    while (size > 0 && WriteFile(error, data, size, &written, nullptr) && written > 0) {
        data += written;
        size -= written;
    }
}

}  // namespace

// Reads whatever the pipe holds now (PeekNamedPipe says how much, so ReadFile never waits), passing
// it on and keeping it with its lines ending in LF alone; at the pipe's end it is closed.
void readClientErrorPipe(ClientProcess& process) {
    char buffer[4096];
    while (process.errorPipe != -1) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipeOf(process), nullptr, 0, nullptr, &available, nullptr)) {
            closeErrorPipe(process);  // broken: the game and all it started have closed their end
            return;
        }
        if (available == 0) return;
        DWORD got = 0;
        if (!ReadFile(pipeOf(process), buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) ||
            got == 0) {
            closeErrorPipe(process);
            return;
        }
        passOn(buffer, got);
        std::string text(buffer, got);
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        keepClientErrorOutput(process, text);
    }
}

namespace {

// After the game has ended: what it left in the pipe, without waiting for a process it started that
// may still hold the pipe open.
void finishErrorPipe(ClientProcess& process) {
    readClientErrorPipe(process);
    closeErrorPipe(process);
}

// Only the handles that are really files or pipes go to the game: a console the launcher attached to
// is not the game's, which has none.
HANDLE redirected(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    const DWORD type = GetFileType(handle);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE ? handle : nullptr;
}

}  // namespace

std::optional<ClientProgram> findClientProgram() {
    if (const std::wstring folder = ownFolder(); !folder.empty()) {
        const std::wstring beside = folder + L"\\" + ClientName;
        if (isFile(beside)) return ClientProgram{utf8Text(beside)};
    }
    if (std::string onPath = findProgramOnPath(utf8Text(ClientName)); !onPath.empty()) return ClientProgram{std::move(onPath)};
    return std::nullopt;
}

bool startClient(const ClientProgram& program, const std::string& address, ClientProcess& process,
                 std::string& error) {
    const std::wstring path = wideText(program.path);
    // The address is a checked dotted-decimal text, so it needs no quoting; the path may hold spaces.
    std::wstring commandLine = L"\"" + path + L"\" " + wideText(address);
    STARTUPINFOEXW startupEx{};
    startupEx.StartupInfo.cb = sizeof startupEx;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE errorRead = nullptr;
    HANDLE errorWrite = nullptr;
    if (!CreatePipe(&errorRead, &errorWrite, &inheritable, 0)) {
        error = "cannot start the game: cannot make a pipe for its errors: " + windowsError(GetLastError());
        return false;
    }
    SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);

    // The game inherits exactly its standard handles, not the launcher's sockets or other files.
    STARTUPINFOW& startup = startupEx.StartupInfo;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = redirected(STD_INPUT_HANDLE);
    startup.hStdOutput = redirected(STD_OUTPUT_HANDLE);
    startup.hStdError = errorWrite;
    std::vector<HANDLE> inherited{errorWrite};
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput}) {
        if (handle != nullptr && std::find(inherited.begin(), inherited.end(), handle) == inherited.end() &&
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
            inherited.push_back(handle);
        }
    }
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> list(listSize);
    startupEx.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
    if (InitializeProcThreadAttributeList(startupEx.lpAttributeList, 1, 0, &listSize)) {
        if (UpdateProcThreadAttribute(startupEx.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                      inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                      nullptr)) {
            flags |= EXTENDED_STARTUPINFO_PRESENT;
        }
    }
    // Without the list the game inherits every inheritable handle, which costs nothing but tidiness.
    if ((flags & EXTENDED_STARTUPINFO_PRESENT) == 0) startup.cb = sizeof(STARTUPINFOW);
    PROCESS_INFORMATION started{};
    const bool ok = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                   nullptr, &startup, &started);
    const DWORD startError = GetLastError();
    if ((flags & EXTENDED_STARTUPINFO_PRESENT) != 0) DeleteProcThreadAttributeList(startupEx.lpAttributeList);
    CloseHandle(errorWrite);  // the game's end only: the pipe ends when the game does
    if (!ok) {
        CloseHandle(errorRead);
        error = "cannot start " + program.path + ": " + windowsError(startError);
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
    process.errorPipe = reinterpret_cast<std::intptr_t>(errorRead);
    process.errorOutput.clear();
    return true;
}

// Waiting on or ending a null handle would act on nothing or fail unseen: only a game this record
// started is waited for or ended.
bool clientStarted(const ClientProcess& process) {
    return process.handle != nullptr;
}

std::optional<int> clientExitStatus(ClientProcess& process, int waitMilliseconds) {
    if (!clientStarted(process)) return NoClientStatus;
    // Short waits, so that the pipe is emptied while the game runs and never fills up under it.
    constexpr int PollMilliseconds = 10;
    for (int waited = 0;; waited += PollMilliseconds) {
        readClientErrorPipe(process);
        const int step = std::min(PollMilliseconds, waitMilliseconds - waited);
        if (WaitForSingleObject(process.handle, static_cast<DWORD>(std::max(step, 0))) != WAIT_TIMEOUT) break;
        if (waited + step >= waitMilliseconds) return std::nullopt;
    }
    finishErrorPipe(process);
    DWORD code = 1;
    GetExitCodeProcess(process.handle, &code);
    CloseHandle(process.handle);
    process.handle = nullptr;
    process.id = -1;
    if (process.jobHandle != nullptr) {
        CloseHandle(process.jobHandle);
        process.jobHandle = nullptr;
    }
    return static_cast<int>(code);
}

int stopClient(ClientProcess& process, int graceMilliseconds) {
    if (!clientStarted(process)) return NoClientStatus;
    // The game keeps nothing, so ending it at once loses nothing.
    TerminateProcess(process.handle, 1);
    const std::optional<int> status = clientExitStatus(process, graceMilliseconds);
    return status ? *status : 1;
}

}  // namespace brassmoor
