// On Windows, where brassmoor-play is a GUI program and gets no console: the console of whoever started it.
#include <windows.h>

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

}  // namespace brassmoor
