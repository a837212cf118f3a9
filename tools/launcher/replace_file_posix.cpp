// Replacing a file on POSIX systems: mkstemp beside it, fsync, rename, then fsync of the folder so
// that the rename itself survives a crash.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "replace_file.h"

namespace brassmoor {

namespace {

bool writeAll(int descriptor, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(descriptor, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

bool replaceFile(const std::filesystem::path& file, std::string_view text, std::string& error) {
    const std::string target = file.string();
    std::vector<char> temporary(target.begin(), target.end());
    for (const char c : std::string_view(".new-XXXXXX"))
        temporary.push_back(c);
    temporary.push_back('\0');
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        error = "cannot write beside " + target + ": " + std::strerror(errno);
        return false;
    }
    const bool written = writeAll(descriptor, text) && ::fsync(descriptor) == 0;
    const int writeError = errno;
    if (::close(descriptor) != 0 || !written) {
        ::unlink(temporary.data());
        error = std::string("cannot write ") + temporary.data() + ": " +
                std::strerror(written ? errno : writeError);
        return false;
    }
    if (::rename(temporary.data(), target.c_str()) != 0) {
        error = "cannot replace " + target + ": " + std::strerror(errno);
        ::unlink(temporary.data());
        return false;
    }
    // The new name is on the disk only once the folder is: a failure here loses nothing now.
    const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
    if (const int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); folderDescriptor >= 0) {
        ::fsync(folderDescriptor);
        ::close(folderDescriptor);
    }
    return true;
}

}  // namespace brassmoor
