// The launcher's log: lines appended with the time, the file moved aside when it grows too long.
#include "launcher_log.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "launcher_paths.h"

namespace brassmoor {

namespace {

std::string utcStamp() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return stamp;
}

}  // namespace

bool appendLauncherLog(const std::string& stateFolder, const std::string& line, std::string& error) {
    if (stateFolder.empty()) {
        error = "cannot keep a log: no folder for it is known (HOME is not set)";
        return false;
    }
    const std::filesystem::path folder = pathFromUtf8(stateFolder);
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (failure) {
        error = "cannot make the log's folder " + stateFolder + ": " + failure.message();
        return false;
    }
    const std::filesystem::path log = folder / LauncherLogName;
    const std::uintmax_t size = std::filesystem::file_size(log, failure);
    if (!failure && size > LauncherLogMostBytes) {
        std::filesystem::path old = log;
        old += ".old";
        std::filesystem::rename(log, old, failure);  // on failure the log simply grows on
    }
    std::ofstream out(log, std::ios::app | std::ios::binary);
    const std::string stamp = utcStamp();
    std::size_t start = 0;
    while (out && start <= line.size()) {
        std::size_t end = line.find('\n', start);
        if (end == std::string::npos) end = line.size();
        std::string part = line.substr(start, end - start);
        if (!part.empty() && part.back() == '\r') part.pop_back();
        if (!part.empty() || start == 0) out << stamp << ' ' << part << '\n';
        start = end + 1;
    }
    out.close();
    if (!out) {
        error = "cannot write the log " + utf8FromPath(log);
        return false;
    }
    return true;
}

}  // namespace brassmoor
