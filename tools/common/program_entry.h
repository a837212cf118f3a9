// How every helper program starts: --help and --version answered first, the same error line and
// exit status for a command line it cannot take, and the project's version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "option_values.h"

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

// Takes the arguments after the program's name as options that each take a value, "--name VALUE"
// or "--name=VALUE": `known(name)` says whether a name is one of them, `apply(name, value)` takes
// it and returns a message when the value is wrong. The first message, or empty when all is taken.
template <typename Known, typename Apply>
std::string takeValuedOptions(std::span<const char* const> args, Known known, Apply apply) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        auto [name, value] = splitOptionArgument(arg);
        if (!known(name)) {
            return arg.starts_with("-") ? "unknown option " + quoted(name)
                                        : "unexpected argument " + quoted(arg);
        }
        if (!value) {
            if (i + 1 >= args.size()) return std::string(name) + " needs a value";
            value = std::string_view(args[++i]);
        }
        if (std::string message = apply(name, *value); !message.empty()) return message;
    }
    return {};
}

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
std::optional<int> answerCommandLine(std::string_view program, CommandLineAction action,
                                     std::string_view error, std::string_view usage);

// The whole start of a helper program: standard output a line at a time (so that a log reader or a
// test sees each line as it happens), the command line parsed by `parse` into a result with
// `action`, `options` and `error`, help, version and errors answered alike; then `run(options)`.
// Needs brassmoor_tool_common, for the line output.
template <typename Parse, typename Run>
int runHelperProgram(int argc, char** argv, std::string_view program, const std::string& usage, Parse parse,
                     Run run);

}  // namespace brassmoor

#include "line_output.h"

namespace brassmoor {

template <typename Parse, typename Run>
int runHelperProgram(int argc, char** argv, std::string_view program, const std::string& usage, Parse parse,
                     Run run) {
    makeLineBuffered(stdout);
    const char* const* args = argv;
    const auto parsed = parse(std::span<const char* const>(args, static_cast<std::size_t>(argc)));
    if (const std::optional<int> status = answerCommandLine(program, parsed.action, parsed.error, usage)) {
        return *status;
    }
    return run(parsed.options);
}

}  // namespace brassmoor
