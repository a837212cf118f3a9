// The console of whoever started the launcher, for a program built without one of its own.
#pragma once

namespace brassmoor {

// On Windows, where brassmoor-play is a GUI program: when its standard output is not already usable
// (not redirected to a file or pipe), attaches to the parent's console, if it has one, and points
// stdout and stderr there, so that a launcher started from a console prints there. Elsewhere nothing.
void attachParentConsole();

}  // namespace brassmoor
