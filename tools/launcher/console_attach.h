// The console of whoever started the launcher, for a program built without one of its own.
#pragma once

namespace brassmoor {

// On Windows, where brassmoor-play is a GUI program: when its standard output is not already usable
// (not redirected to a file or pipe), attaches to the parent's console, if it has one, and points
// stdout and stderr there, so that a launcher started from a console prints there. Elsewhere nothing.
void attachParentConsole();

// True when the launcher's standard error reaches someone: a terminal (on Windows a console, or a
// file or pipe its starter chose); false when it was started from the desktop (a menu entry, the
// Start menu), where a failure must be shown in a message box too.
bool errorsReachAConsole();

}  // namespace brassmoor
