// A message on the desktop for a failure the launcher cannot show in its own window.
#pragma once

#include <string>

namespace brassmoor {

// Shows `text` (UTF-8) under `title` in the desktop's own message box and returns once the player has
// closed it: MessageBoxW on Windows; zenity, else kdialog, on other systems when one is on PATH and
// there is a display. False when no message box could be shown.
bool showDesktopMessage(const std::string& title, const std::string& text);

}  // namespace brassmoor
