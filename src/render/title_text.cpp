// The window title's text, formatted into a fixed buffer.
#include <cstdio>

#include "render/title.h"

namespace brassmoor {

void formatWindowTitle(char (&title)[WindowTitleCapacity], const char* serverAddressText, int othersCount,
                       PlayerPosition position) {
    // snprintf cuts a long address and always terminates; the result is not needed.
    std::snprintf(title, WindowTitleCapacity, "Brassmoor  |  %s  |  others: %d  |  pos %.1f,%.1f",
                  serverAddressText, othersCount, static_cast<double>(position.x),
                  static_cast<double>(position.y));
}

}  // namespace brassmoor
