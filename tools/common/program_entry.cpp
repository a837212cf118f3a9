// How every helper program starts: help, version, the error line and its exit status.
#include "program_entry.h"

#include <cstdio>

namespace brassmoor {

CommandLineAction informationRequested(std::span<const char* const> args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") return CommandLineAction::Help;
        if (arg == "--version") return CommandLineAction::Version;
    }
    return CommandLineAction::Run;
}

OptionArgument splitOptionArgument(std::string_view arg) {
    if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string_view::npos) {
        return OptionArgument{arg.substr(0, equals), arg.substr(equals + 1)};
    }
    return OptionArgument{arg, std::nullopt};
}

ProjectVersion projectVersion() {
    // The build passes the project's version in, so there is one place to change it.
    return ProjectVersion{BRASSMOOR_VERSION_MAJOR, BRASSMOOR_VERSION_MINOR, BRASSMOOR_VERSION_PATCH};
}

std::string formatVersion(const ProjectVersion& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.patch);
}

std::string versionLine(std::string_view program) {
    return std::string(program) + " " + formatVersion(projectVersion()) + "\n";
}

std::optional<int> answerCommandLine(std::string_view program, CommandLineAction action, std::string_view error,
                                     std::string_view usage) {
    const std::string name(program);
    switch (action) {
        case CommandLineAction::Help:
            std::fwrite(usage.data(), 1, usage.size(), stdout);
            return 0;
        case CommandLineAction::Version:
            std::fputs(versionLine(program).c_str(), stdout);
            return 0;
        case CommandLineAction::Error:
            // One line, so that a log or a dialog shows the whole of it.
            std::fprintf(stderr, "%s: %.*s (see '%s --help')\n", name.c_str(), static_cast<int>(error.size()),
                         error.data(), name.c_str());
            return 2;
        case CommandLineAction::Run:
            break;
    }
    return std::nullopt;
}

}  // namespace brassmoor
