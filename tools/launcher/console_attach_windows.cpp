// On Windows, where brassmoor-play is a GUI program and gets no console: the console of whoever started it.
#include <windows.h>

#include <io.h>

#include <cstdio>

#include "console_attach.h"

namespace brassmoor {

namespace {

bool usable(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void attachParentConsole() {
    // Output already redirected (a file, a pipe) is used as it is: attaching would send it to the
    // console instead. Only when there is no usable output is the parent's console taken.
    const bool outputUsable = usable(STD_OUTPUT_HANDLE);
    const bool errorUsable = usable(STD_ERROR_HANDLE);
    if (outputUsable) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;  // started from the desktop: nowhere to print
    std::FILE* reopened = nullptr;
    freopen_s(&reopened, "CONOUT$", "w", stdout);
    if (!errorUsable) freopen_s(&reopened, "CONOUT$", "w", stderr);
}

bool errorsReachAConsole() {
    // The stream, not the process's standard handle: attachParentConsole points the stream at the
    // console it attached to. A file or pipe was chosen by whoever started the launcher, who reads it;
    // from the Start menu there is none.
    const intptr_t handle = _get_osfhandle(_fileno(stderr));
    if (handle == -1 || handle == -2) return false;
    return GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_UNKNOWN;
}

}  // namespace brassmoor
