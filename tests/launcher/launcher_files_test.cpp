// The launcher's files: remembered addresses kept, bounded, set aside when damaged, written whole; the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "launcher_log.h"
#include "remembered_addresses.h"

namespace brassmoor {
namespace {

namespace fs = std::filesystem;

// A folder of this test's own, emptied before it starts.
fs::path freshFolder() {
    const fs::path folder = fs::path(testing::TempDir()) / "launcher-files" /
                            testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder);
    return folder;
}

std::string contentsOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RememberedAddresses, MostRecentFirstBoundedAndRoundTripped) {
    const fs::path folder = freshFolder() / "made" / "brassmoor";
    EXPECT_TRUE(loadRememberedAddresses(folder.string()).addresses.empty()) << "no file yet";
    std::vector<std::string> kept;
    for (const char* typed : {"10.0.0.1", "game.lan", "Game.LAN", "not an address"}) kept = rememberAddress(kept, typed);
    EXPECT_EQ(kept, (std::vector<std::string>{"Game.LAN", "10.0.0.1"}));
    for (int i = 1; i <= 10; ++i) kept = rememberAddress(kept, "192.168.1." + std::to_string(i));
    ASSERT_EQ(kept.size(), MaxRememberedAddresses);
    EXPECT_EQ(kept.front(), "192.168.1.10");
    EXPECT_EQ(kept.back(), "192.168.1.1");

    std::string error;
    ASSERT_TRUE(saveRememberedAddresses(folder.string(), kept, error)) << error;
    const RememberedLoad load = loadRememberedAddresses(folder.string());
    EXPECT_EQ(load.addresses, kept);
    ASSERT_TRUE(saveRememberedAddresses(folder.string(), {"10.9.9.9"}, error)) << "over the old file: " << error;
    EXPECT_EQ(loadRememberedAddresses(folder.string()).addresses, std::vector<std::string>{"10.9.9.9"});
}

TEST(RememberedAddresses, ADamagedFileIsSetAsideSaidAndItsGoodLinesKept) {
    const fs::path folder = freshFolder();
    fs::create_directories(folder);
    const std::string damaged = "# note\n10.0.0.7\n\x01\xFFgarbage\nhome.lan\r\n10.0.0.7\n";
    std::ofstream(folder / "remembered-addresses", std::ios::binary) << damaged;
    const RememberedLoad load = loadRememberedAddresses(folder.string());
    EXPECT_EQ(load.addresses, (std::vector<std::string>{"10.0.0.7", "home.lan"}));
    EXPECT_NE(load.problem.find("damaged (line 3 is no address); set aside as "), std::string::npos) << load.problem;
    EXPECT_EQ(contentsOf(folder / "remembered-addresses.damaged"), damaged) << "kept, never dropped";
    // Written back at once: the next start has the good lines though nothing was joined.
    const RememberedLoad next = loadRememberedAddresses(folder.string());
    EXPECT_EQ(next.problem, "") << "said once";
    EXPECT_EQ(next.addresses, load.addresses);
}

TEST(RememberedAddresses, WrittenWholeOrNotAtAll) {
    const fs::path folder = freshFolder();
    std::string error;
    ASSERT_TRUE(saveRememberedAddresses(folder.string(), {"10.0.0.1"}, error)) << error;
    // What an earlier launcher left behind does not stand in the way: each save writes a file of its own.
    fs::create_directories(folder / "remembered-addresses.new");
    ASSERT_TRUE(saveRememberedAddresses(folder.string(), {"10.0.0.2", "10.0.0.1"}, error)) << error;
    EXPECT_EQ(loadRememberedAddresses(folder.string()).addresses, (std::vector<std::string>{"10.0.0.2", "10.0.0.1"}));
    // The file cannot be replaced where a folder of its name stands: nothing changes, nothing is left.
    fs::remove(folder / "remembered-addresses");
    fs::create_directories(folder / "remembered-addresses" / "inside");
    EXPECT_FALSE(saveRememberedAddresses(folder.string(), {"10.0.0.3"}, error));
    EXPECT_NE(error, "");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"remembered-addresses", "remembered-addresses.new"}));
}

TEST(LauncherLog, LinesAreAppendedStampedIntoAFolderMadeForThem) {
    const fs::path folder = freshFolder() / "state" / "brassmoor";
    std::string error;
    ASSERT_TRUE(appendLauncherLog(folder.string(), "cannot open a window", error)) << error;
    ASSERT_TRUE(appendLauncherLog(folder.string(), "the game ended with status 1:\nno OpenGL 3.3\n", error)) << error;
    const std::string stamp = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ ";
    const std::string log = contentsOf(folder / "brassmoor-play.log");
    EXPECT_TRUE(std::regex_match(log, std::regex(stamp + "cannot open a window\n" + stamp +
                                                 "the game ended with status 1:\n" + stamp + "no OpenGL 3.3\n")))
        << log;
    EXPECT_FALSE(appendLauncherLog("", "lost", error));
    EXPECT_NE(error, "");
}

}  // namespace
}  // namespace brassmoor
