// PATH on POSIX systems: colon-separated folders, only absolute ones searched.
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "program_on_path.h"

namespace brassmoor {

std::string findProgramOnPath(const std::string& name) {
    const char* searchPath = std::getenv("PATH");
    std::string_view folders = searchPath != nullptr ? searchPath : "";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') continue;
        const std::string candidate = std::string(folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

}  // namespace brassmoor
