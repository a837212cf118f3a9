// A failing stand-in game's standard error as the launcher gets it: passed on whole, its last part kept.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "client_process.h"

namespace brassmoor {
namespace {

TEST(ClientProcess, AFailingGameHasItsErrorLinesPassedOnAndItsLastOnesKept) {
    char folder[] = "/tmp/client-process-test.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const ClientProgram game{std::string(folder) + "/brassmoor"};
    // More than a pipe holds: nothing is lost only if the pipe is read while the game runs.
    std::ofstream(game.path) << "#!/bin/sh\ni=0\nwhile [ $i -lt 4000 ]; do echo \"complaint $i of many\" >&2; "
                                "i=$((i+1)); done\necho \"no OpenGL 3.3 for $1\" >&2\nexit 3\n";
    ::chmod(game.path.c_str(), 0755);
    std::string written;
    for (int i = 0; i < 4000; ++i) written += "complaint " + std::to_string(i) + " of many\n";
    written += "no OpenGL 3.3 for 10.1.2.3\n";

    // The launcher's own standard error goes into a file for the while.
    std::FILE* passedOn = std::tmpfile();
    const int savedError = ::dup(STDERR_FILENO);
    ::dup2(::fileno(passedOn), STDERR_FILENO);
    ClientProcess process;
    std::string error;
    const bool started = startClient(game, "10.1.2.3", process, error);
    const std::optional<int> status = started ? clientExitStatus(process, 60000) : std::nullopt;
    ::dup2(savedError, STDERR_FILENO);
    ASSERT_TRUE(started) << error;
    ASSERT_EQ(status, 3);

    std::string passed(written.size() + 1, '\0');
    std::rewind(passedOn);
    passed.resize(std::fread(passed.data(), 1, passed.size(), passedOn));
    std::fclose(passedOn);
    EXPECT_TRUE(passed == written) << "passed on " << passed.size() << " of " << written.size() << " bytes";
    const std::string kept = takeClientErrorOutput(process);
    EXPECT_GT(kept.size(), MaxKeptClientErrorBytes - 30);
    EXPECT_TRUE(kept.starts_with("complaint ")) << "kept from a line's start";
    EXPECT_TRUE(written.ends_with(kept));
    EXPECT_EQ(takeClientErrorOutput(process), "");
}

TEST(ClientProcess, TheGameIsNeverRunFromTheCurrentFolderThroughPath) {
    char folder[] = "/tmp/client-process-path.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string dropped = std::string(folder) + "/brassmoor";
    std::ofstream(dropped) << "#!/bin/sh\n";
    ::chmod(dropped.c_str(), 0755);
    char started[4096];
    ASSERT_NE(::getcwd(started, sizeof started), nullptr);
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ASSERT_EQ(::chdir(folder), 0);
    // An empty entry and a relative one would both name the current folder.
    ::setenv("PATH", ":.:/nowhere-at-all:", 1);
    const std::optional<ClientProgram> fromHere = findClientProgram();
    ::setenv("PATH", (std::string("/nowhere-at-all:") + folder).c_str(), 1);
    const std::optional<ClientProgram> named = findClientProgram();
    ::setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(::chdir(started), 0);
    EXPECT_FALSE(fromHere.has_value()) << fromHere->path;
    ASSERT_TRUE(named.has_value());
    EXPECT_EQ(named->path, dropped);
}

}  // namespace
}  // namespace brassmoor
