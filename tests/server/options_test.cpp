// Tests of the server's command-line parsing.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "options.h"

namespace brassmoor {
namespace {

OptionsResult parse(std::initializer_list<const char*> rest) {
    std::vector<const char*> args{"brassmoor-server"};
    args.insert(args.end(), rest.begin(), rest.end());
    return parseServerOptions(args);
}

TEST(ServerOptionsParsing, NoArgumentsGiveTheDefaults) {
    const OptionsResult result = parse({});
    ASSERT_EQ(result.action, CommandLineAction::Run);
    EXPECT_EQ(result.options.bindAddress, "0.0.0.0");
    EXPECT_EQ(result.options.port, 40123);
    EXPECT_EQ(result.options.rate, 30.0);
    EXPECT_EQ(result.options.bots, 0u);
    EXPECT_EQ(result.options.timeoutSeconds, 5.0);
    EXPECT_EQ(result.options.seed, 1u);
    EXPECT_EQ(result.options.maxClients, 64u);
    EXPECT_EQ(result.options.statusSeconds, 5.0);
    EXPECT_EQ(result.options.maxEntries, 204u);
}

TEST(ServerOptionsParsing, TakesEveryOptionWithSeparateValues) {
    const OptionsResult result = parse({"--bind", "127.0.0.1", "--port", "5000", "--rate", "20", "--bots",
                                        "7", "--timeout", "2.5", "--seed", "18446744073709551615", "--arena",
                                        "15", "--max-clients", "4000", "--status", "0.25", "--max-entries", "73"});
    ASSERT_EQ(result.action, CommandLineAction::Run) << result.error;
    EXPECT_EQ(result.options.bindAddress, "127.0.0.1");
    EXPECT_EQ(result.options.port, 5000);
    EXPECT_EQ(result.options.rate, 20.0);
    EXPECT_EQ(result.options.bots, 7u);
    EXPECT_EQ(result.options.timeoutSeconds, 2.5);
    EXPECT_EQ(result.options.seed, 18446744073709551615u);
    EXPECT_EQ(result.options.arena, 15.0f);
    EXPECT_EQ(result.options.maxClients, 4000u);
    EXPECT_EQ(result.options.statusSeconds, 0.25);
    EXPECT_EQ(result.options.maxEntries, 73u);
}

TEST(ServerOptionsParsing, TakesValuesAfterAnEqualsSign) {
    const OptionsResult result = parse(
        {"--port=65535", "--rate=0.5", "--bots=0", "--bind=10.1.2.3", "--max-clients=1", "--status=60"});
    ASSERT_EQ(result.action, CommandLineAction::Run) << result.error;
    EXPECT_EQ(result.options.maxClients, 1u);
    EXPECT_EQ(result.options.statusSeconds, 60.0);
    EXPECT_EQ(result.options.port, 65535);
    EXPECT_EQ(result.options.rate, 0.5);
    EXPECT_EQ(result.options.bindAddress, "10.1.2.3");
}

TEST(ServerOptionsParsing, TheLastOfARepeatedOptionWins) {
    const OptionsResult result = parse({"--bots", "2", "--bots", "3"});
    ASSERT_EQ(result.action, CommandLineAction::Run);
    EXPECT_EQ(result.options.bots, 3u);
}

TEST(ServerOptionsParsing, HelpWinsOverEverythingElse) {
    EXPECT_EQ(parse({"--help"}).action, CommandLineAction::Help);
    EXPECT_EQ(parse({"--port", "1", "--help", "--nonsense"}).action, CommandLineAction::Help);
    EXPECT_EQ(parse({"-h"}).action, CommandLineAction::Help);
}

TEST(ServerOptionsParsing, VersionStopsParsingLikeHelp) {
    EXPECT_EQ(parse({"--version"}).action, CommandLineAction::Version);
    EXPECT_EQ(parse({"--bots", "3", "--version", "--nonsense"}).action, CommandLineAction::Version);
    // Whichever comes first decides.
    EXPECT_EQ(parse({"--help", "--version"}).action, CommandLineAction::Help);
    EXPECT_EQ(parse({"--version", "--help"}).action, CommandLineAction::Version);
}

TEST(ServerOptionsParsing, VersionLineCarriesTheProjectVersion) {
    // The build hands this test the version from the same place it hands the server.
    EXPECT_EQ(versionLine("brassmoor-server"), std::string("brassmoor-server ") + BRASSMOOR_EXPECTED_VERSION + "\n");
    EXPECT_STRNE(BRASSMOOR_EXPECTED_VERSION, "");
}

TEST(ServerOptionsParsing, UsageNamesEveryOption) {
    const std::string usage = serverUsageText();
    for (const char* name : {"--bind", "--port", "--rate", "--bots", "--timeout", "--seed", "--arena",
                             "--max-clients", "--max-entries", "--status", "--help", "--version"}) {
        EXPECT_NE(usage.find(name), std::string::npos) << name;
    }
}

TEST(ServerOptionsParsing, UsageStatesTheServersOwnCapAndAllowance) {
    const std::string usage = serverUsageText();
    EXPECT_NE(usage.find("up to " + std::to_string(SnapshotCreditAllowance) + " banked"), std::string::npos);
    const std::size_t option = usage.find("--max-clients");
    ASSERT_NE(option, std::string::npos);
    const std::size_t stated = usage.find("(default " + std::to_string(DefaultMaxClients) + ")", option);
    EXPECT_LT(stated, usage.find("--seed", option));
}

struct BadCase {
    std::vector<const char*> args;
    const char* expectedInMessage;
};

TEST(ServerOptionsErrors, BadValuesAreRefusedWithAMessageNamingTheOption) {
    const std::vector<BadCase> cases = {
        {{"--port", "0"}, "--port"},
        {{"--port", "65536"}, "--port"},
        {{"--port", "abc"}, "'abc'"},
        {{"--port", "12x"}, "--port"},
        {{"--port", "-5"}, "--port"},
        {{"--port", ""}, "--port"},
        {{"--rate", "0"}, "--rate"},
        {{"--rate", "nan"}, "--rate"},
        {{"--rate", "inf"}, "--rate"},
        {{"--rate", "5000"}, "--rate"},
        {{"--bots", "-1"}, "--bots"},
        {{"--bots", "10001"}, "--bots"},
        {{"--bots", "2.5"}, "--bots"},
        {{"--timeout", "0"}, "--timeout"},
        {{"--timeout", "soon"}, "--timeout"},
        {{"--seed", "-1"}, "--seed"},
        {{"--arena", "0.5"}, "--arena"},
        {{"--arena", "61"}, "--arena"},
        {{"--bind", "localhost"}, "--bind"},
        {{"--bind", "256.0.0.1"}, "--bind"},
        {{"--bind", "1.2.3"}, "--bind"},
        {{"--bind", "1.2.3.4.5"}, "--bind"},
        {{"--bind", "01.2.3.4"}, "--bind"},
        {{"--bind", "1..2.3"}, "--bind"},
        {{"--max-clients", "0"}, "--max-clients"},
        {{"--max-clients", "4001"}, "--max-clients"},
        {{"--max-entries", "0"}, "--max-entries"},
        {{"--max-entries", "205"}, "--max-entries"},
        {{"--max-clients", "-3"}, "--max-clients"},
        {{"--max-clients", "2.5"}, "--max-clients"},
        {{"--max-clients", "many"}, "'many'"},
        {{"--status", "0"}, "--status"},
        {{"--status", "0.05"}, "--status"},
        {{"--status", "nan"}, "--status"},
        {{"--status", "86401"}, "--status"},
        {{"--status", "often"}, "'often'"},
    };
    for (const BadCase& c : cases) {
        std::vector<const char*> args{"brassmoor-server"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const OptionsResult result = parseServerOptions(args);
        EXPECT_EQ(result.action, CommandLineAction::Error) << c.args[0] << " " << c.args[1];
        EXPECT_NE(result.error.find(c.expectedInMessage), std::string::npos) << result.error;
    }
}

TEST(ServerOptionsErrors, AMissingValueIsAnError) {
    const OptionsResult result = parse({"--bots"});
    EXPECT_EQ(result.action, CommandLineAction::Error);
    EXPECT_EQ(result.error, "--bots needs a value");
}

TEST(ServerOptionsErrors, UnknownOptionsAndStrayArgumentsAreErrors) {
    const OptionsResult unknown = parse({"--speed", "3"});
    EXPECT_EQ(unknown.action, CommandLineAction::Error);
    EXPECT_EQ(unknown.error, "unknown option '--speed'");

    const OptionsResult stray = parse({"--port", "5000", "extra"});
    EXPECT_EQ(stray.action, CommandLineAction::Error);
    EXPECT_EQ(stray.error, "unexpected argument 'extra'");
}

TEST(Ipv4Text, AcceptsOnlyFourDecimalBytes) {
    EXPECT_TRUE(isDottedIpv4("0.0.0.0"));
    EXPECT_TRUE(isDottedIpv4("127.0.0.1"));
    EXPECT_TRUE(isDottedIpv4("255.255.255.255"));
    EXPECT_FALSE(isDottedIpv4(""));
    EXPECT_FALSE(isDottedIpv4("1.2.3.4."));
    EXPECT_FALSE(isDottedIpv4(" 1.2.3.4"));
    EXPECT_FALSE(isDottedIpv4("1.2.3.0400"));
    EXPECT_FALSE(isDottedIpv4("1.2.3.-4"));
    EXPECT_FALSE(isDottedIpv4("::1"));
}

}  // namespace
}  // namespace brassmoor
