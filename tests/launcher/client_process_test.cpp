// The game's standard error as the launcher gets it, from a stand-in game: passed on, kept, never waited for.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "client_process.h"

namespace brassmoor {
namespace {

// A stand-in game: a shell script in a fresh folder, given the address as its one argument.
ClientProgram standIn(const std::string& body) {
    char folder[] = "/tmp/client-process-test.XXXXXX";
    EXPECT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/brassmoor";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return ClientProgram{path};
}

TEST(ClientProcess, AFailingGameHasItsLastErrorLinesKeptAndPassedOn) {
    // More than a pipe holds, so that nothing is lost only if it is read while the game runs.
    const ClientProgram game = standIn(
        "i=0; while [ $i -lt 4000 ]; do echo \"filler line $i of the game's complaints\" >&2; i=$((i+1)); done\n"
        "echo \"cannot start: no OpenGL 3.3 for $1\" >&2; exit 3");
    // The launcher's own standard error, into a file for the while.
    std::FILE* passedOn = std::tmpfile();
    const int savedError = ::dup(STDERR_FILENO);
    ::dup2(::fileno(passedOn), STDERR_FILENO);
    ClientProcess process;
    std::string error;
    ASSERT_TRUE(startClient(game, "10.1.2.3", process, error)) << error;
    const std::optional<int> status = clientExitStatus(process, 60000);
    ::dup2(savedError, STDERR_FILENO);
    ASSERT_EQ(status, 3);

    std::string written;
    for (int i = 0; i < 4000; ++i) written += "filler line " + std::to_string(i) + " of the game's complaints\n";
    written += "cannot start: no OpenGL 3.3 for 10.1.2.3\n";
    std::string passed(written.size() + 1, '\0');
    std::rewind(passedOn);
    passed.resize(std::fread(passed.data(), 1, passed.size(), passedOn));
    EXPECT_TRUE(passed == written) << "passed on: " << passed.size() << " of " << written.size() << " bytes";

    const std::string kept = takeClientErrorOutput(process);
    EXPECT_LE(kept.size(), MaxKeptClientErrorBytes);
    EXPECT_GT(kept.size(), MaxKeptClientErrorBytes - 100);
    EXPECT_EQ(kept.rfind("filler line ", 0), 0u) << "kept from a line's start";
    EXPECT_EQ(written.substr(written.size() - kept.size()), kept);
    EXPECT_EQ(takeClientErrorOutput(process), "");
    std::fclose(passedOn);
}

TEST(ClientProcess, ErrorLinesComeWhileTheGameRunsWithoutWaitingForItsEnd) {
    const ClientProgram game = standIn("echo 'joined 10.1.2.3' >&2; exec sleep 600");
    ClientProcess process;
    std::string error;
    ASSERT_TRUE(startClient(game, "10.1.2.3", process, error)) << error;
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (seen.empty() && std::chrono::steady_clock::now() < deadline) {
        seen += takeClientErrorOutput(process);
        clientExitStatus(process, 10);
    }
    EXPECT_EQ(seen, "joined 10.1.2.3\n");
    EXPECT_EQ(stopClient(process, 5000), 128 + 15);
}

}  // namespace
}  // namespace brassmoor
