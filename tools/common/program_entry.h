// How every helper program starts: --help and --version answered first, the same error line and
// exit status for a command line it cannot take, and the project's version.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brassmoor {

enum class CommandLineAction {
    Run,      // go on with the parsed options
    Help,     // print the usage and exit 0
    Version,  // print the version line and exit 0
    Error,    // print the error line and exit 2
};

// --help (or -h) and --version win over anything else on the line, whatever its mistakes: the
// first of them names the action. Run when neither is there.
CommandLineAction informationRequested(std::span<const char* const> args);

// "--name=value" gives the name and the value; anything else is all name and no value.
struct OptionArgument {
    std::string_view name;
    std::optional<std::string_view> value;
};
OptionArgument splitOptionArgument(std::string_view arg);

struct ProjectVersion {
    std::uint8_t major;
    std::uint8_t minor;
    std::uint8_t patch;
};

// The version the build was made from (the CMake project's).
ProjectVersion projectVersion();
// "0.3.0"
std::string formatVersion(const ProjectVersion& version);
// "brassmoor-server 0.3.0\n"
std::string versionLine(std::string_view program);

// Carries out Help, Version and Error: the usage or the version line on standard output (status 0),
// or the line "PROGRAM: ERROR (see 'PROGRAM --help')" on standard error (status 2). Returns that status, or
// nothing for Run.
std::optional<int> answerCommandLine(std::string_view program, CommandLineAction action, std::string_view error,
                                     std::string_view usage);

}  // namespace brassmoor
