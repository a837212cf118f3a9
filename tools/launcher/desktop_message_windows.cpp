// The desktop's message box on Windows: MessageBoxW, the text turned from UTF-8 to UTF-16.
#include <windows.h>

#include "desktop_message.h"
#include "wide_text_windows.h"

namespace brassmoor {

bool showDesktopMessage(const std::string& title, const std::string& text) {
    // MB_SETFOREGROUND: the launcher has no window of its own by then, so the box would open behind others.
    return MessageBoxW(nullptr, wideText(text).c_str(), wideText(title).c_str(),
                       MB_OK | MB_ICONERROR | MB_SETFOREGROUND) != 0;
}

}  // namespace brassmoor
