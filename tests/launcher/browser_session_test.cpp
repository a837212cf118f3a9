// The launcher's session without its window: one game at a time, whatever order the actions come in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "browser_session.h"
#include "monotonic_clock.h"

namespace brassmoor {
namespace {

// This process's children, ended or not, as the kernel lists them: every game started and not yet
// waited for.
std::size_t childCount() {
    std::size_t count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream listed(task.path() / "children");
        for (std::string child; listed >> child;)
            ++count;
    }
    return count;
}

TEST(BrowserSession, ATypedJoinLookedUpWhileAGameCouldStartLeavesOneGameAndNoneAfterClosing) {
    char folder[] = "/tmp/browser-session-test.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    BrowserSession session;
    session.program.path = std::string(folder) + "/brassmoor";
    std::ofstream(session.program.path) << "#!/bin/sh\nexec sleep 60\n";
    ::chmod(session.program.path.c_str(), 0755);
    // No search is opened: nothing leaves this computer, and its files stay in the folder.
    session.folders = UserFolders{std::string(folder) + "/config", std::string(folder) + "/state"};
    session.model.own = projectVersion();
    BrowserRow row;
    row.from = Ipv4Endpoint{0x7F000002, GamePort};
    row.info.instance = 7;
    row.info.versionMajor = session.model.own.major;
    row.info.versionMinor = session.model.own.minor;
    session.model.rows.push_back(row);
    session.model.selected = 7;

    joinTyped(session, "127.0.0.1");
    // While the name is looked up, a join of the list's game must wait its turn.
    joinSelected(session);
    for (const double deadline = monotonicSeconds() + 10.0;
         session.joining && monotonicSeconds() < deadline;) {
        stepBrowserSession(session, monotonicSeconds(), 10);
    }
    ASSERT_FALSE(session.joining.has_value());
    EXPECT_EQ(childCount(), 1u) << "one game, the typed address's";
    closeBrowserSession(session);
    EXPECT_EQ(childCount(), 0u) << "every game ended and waited for";
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace brassmoor
