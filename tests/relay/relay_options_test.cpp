// Tests of the relay's command line and of its endpoint text.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "relay_options.h"

namespace brassmoor {
namespace {

RelayOptionsResult parse(std::initializer_list<const char*> rest) {
    std::vector<const char*> args{"brassmoor-relay"};
    args.insert(args.end(), rest.begin(), rest.end());
    return parseRelayOptions(args);
}

TEST(RelayOptionsParsing, OnlyTheServerGivesTheDefaults) {
    const RelayOptionsResult result = parse({"--server", "127.0.0.1:40124"});
    ASSERT_EQ(result.action, CommandLineAction::Run) << result.error;
    const RelayOptions& o = result.options;
    EXPECT_EQ(o.server, (Ipv4Endpoint{0x7F000001, 40124}));
    EXPECT_EQ(o.listen, (Ipv4Endpoint{0, 40123}));
    EXPECT_EQ(o.seed, 1u);
    EXPECT_FALSE(o.impairForSeconds.has_value());
    EXPECT_EQ(o.statusEverySeconds, 5.0);
    EXPECT_EQ(o.maxClients, 64u);
    EXPECT_EQ(o.idleSeconds, 30.0);
    EXPECT_EQ(o.maxHeld, 1024u);
    for (const Impairment* i : {&o.up, &o.down}) {
        EXPECT_EQ(i->loss + i->duplicate + i->reorder + i->truncate + i->corrupt + i->delayMs + i->jitterMs,
                  0.0);
    }
}

TEST(RelayOptionsParsing, TakesEveryOptionForBothDirections) {
    const RelayOptionsResult result = parse({"--listen",
                                             "10.0.0.1:0",
                                             "--server=10.0.0.2:9",
                                             "--loss",
                                             "0.25",
                                             "--duplicate=0.5",
                                             "--reorder",
                                             "0.1",
                                             "--truncate",
                                             "0.02",
                                             "--corrupt",
                                             "1",
                                             "--delay",
                                             "100",
                                             "--jitter",
                                             "50.5",
                                             "--seed",
                                             "18446744073709551615",
                                             "--impair-for",
                                             "0",
                                             "--status-every",
                                             "0.5",
                                             "--max-clients",
                                             "255",
                                             "--idle",
                                             "2.5",
                                             "--max-held",
                                             "16384"});
    ASSERT_EQ(result.action, CommandLineAction::Run) << result.error;
    const RelayOptions& o = result.options;
    EXPECT_EQ(o.listen, (Ipv4Endpoint{0x0A000001, 0}));
    EXPECT_EQ(o.server, (Ipv4Endpoint{0x0A000002, 9}));
    for (const Impairment* i : {&o.up, &o.down}) {
        EXPECT_EQ(i->loss, 0.25);
        EXPECT_EQ(i->duplicate, 0.5);
        EXPECT_EQ(i->reorder, 0.1);
        EXPECT_EQ(i->truncate, 0.02);
        EXPECT_EQ(i->corrupt, 1.0);
        EXPECT_EQ(i->delayMs, 100.0);
        EXPECT_EQ(i->jitterMs, 50.5);
    }
    EXPECT_EQ(o.seed, 18446744073709551615u);
    EXPECT_EQ(o.impairForSeconds, 0.0);
    EXPECT_EQ(o.statusEverySeconds, 0.5);
    EXPECT_EQ(o.maxClients, 255u);
    EXPECT_EQ(o.idleSeconds, 2.5);
    EXPECT_EQ(o.maxHeld, 16384u);
}

TEST(RelayOptionsParsing, ADirectionsOwnValueBeatsTheSharedOneInEitherOrder) {
    for (const auto& args :
         {std::vector<const char*>{"brassmoor-relay", "--server", "127.0.0.1:1", "--loss", "0.5", "--up-loss",
                                   "0.1", "--down-delay", "50", "--delay", "10"},
          std::vector<const char*>{"brassmoor-relay", "--up-loss", "0.1", "--delay", "10", "--down-delay",
                                   "50", "--loss", "0.5", "--server", "127.0.0.1:1"}}) {
        const RelayOptionsResult result = parseRelayOptions(args);
        ASSERT_EQ(result.action, CommandLineAction::Run) << result.error;
        EXPECT_EQ(result.options.up.loss, 0.1);
        EXPECT_EQ(result.options.down.loss, 0.5);
        EXPECT_EQ(result.options.up.delayMs, 10.0);
        EXPECT_EQ(result.options.down.delayMs, 50.0);
    }
}

TEST(RelayOptionsParsing, EachDirectionTakesEverySettingAlone) {
    const RelayOptionsResult result =
        parse({"--server", "127.0.0.1:1", "--up-duplicate", "0.1", "--up-reorder", "0.2", "--up-truncate",
               "0.3", "--up-corrupt", "0.4", "--up-jitter", "5", "--down-loss", "1", "--down-jitter", "7"});
    ASSERT_EQ(result.action, CommandLineAction::Run) << result.error;
    const Impairment& up = result.options.up;
    const Impairment& down = result.options.down;
    EXPECT_EQ(up.duplicate, 0.1);
    EXPECT_EQ(up.reorder, 0.2);
    EXPECT_EQ(up.truncate, 0.3);
    EXPECT_EQ(up.corrupt, 0.4);
    EXPECT_EQ(up.jitterMs, 5.0);
    EXPECT_EQ(up.loss, 0.0);
    EXPECT_EQ(down.loss, 1.0);
    EXPECT_EQ(down.jitterMs, 7.0);
    EXPECT_EQ(down.duplicate + down.reorder + down.truncate + down.corrupt, 0.0);
}

TEST(RelayOptionsParsing, HelpWinsOverEverythingElse) {
    EXPECT_EQ(parse({"--help"}).action, CommandLineAction::Help);
    EXPECT_EQ(parse({"--loss", "7", "-h"}).action, CommandLineAction::Help);
}

TEST(RelayOptionsParsing, UsageNamesEveryOption) {
    const std::string usage = relayUsageText();
    for (const char* name :
         {"--listen", "--server", "--loss", "--duplicate", "--reorder", "--truncate", "--corrupt", "--delay",
          "--jitter", "--up-", "--down-", "--seed", "--impair-for", "--status-every", "--max-clients",
          "--idle", "--max-held", "--help", "SIGUSR1"}) {
        EXPECT_NE(usage.find(name), std::string::npos) << name;
    }
}

struct BadCase {
    std::vector<const char*> args;
    const char* expectedInMessage;
};

TEST(RelayOptionsErrors, BadValuesAreRefusedWithAMessageNamingTheOption) {
    const std::vector<BadCase> cases = {
        {{"--loss", "1.5"}, "--loss"},
        {{"--up-loss", "-0.1"}, "--up-loss"},
        {{"--down-corrupt", "nan"}, "--down-corrupt"},
        {{"--duplicate", "half"}, "'half'"},
        {{"--truncate", ""}, "--truncate"},
        {{"--delay", "10001"}, "--delay"},
        {{"--jitter", "-1"}, "--jitter"},
        {{"--down-delay", "inf"}, "--down-delay"},
        {{"--listen", "127.0.0.1"}, "--listen"},
        {{"--listen", "localhost:40123"}, "--listen"},
        {{"--listen", "127.0.0.1:65536"}, "--listen"},
        {{"--listen", "127.0.0.01:1"}, "--listen"},
        {{"--listen", "127.0.0.1:1x"}, "--listen"},
        {{"--server", "127.0.0.1:0"}, "--server"},
        {{"--server", "1.2.3:4"}, "--server"},
        {{"--seed", "-1"}, "--seed"},
        {{"--impair-for", "-1"}, "--impair-for"},
        {{"--status-every", "0.05"}, "--status-every"},
        {{"--max-clients", "0"}, "--max-clients"},
        {{"--max-clients", "256"}, "--max-clients"},
        {{"--idle", "0"}, "--idle"},
        {{"--max-held", "0"}, "--max-held"},
        {{"--max-held", "16385"}, "--max-held"},
        {{"--sideways-loss", "0.1"}, "unknown option '--sideways-loss'"},
        {{"--up-", "0.1"}, "unknown option '--up-'"},
        {{"--loss"}, "--loss needs a value"},
        {{"stray"}, "unexpected argument 'stray'"},
    };
    for (const BadCase& c : cases) {
        std::vector<const char*> args{"brassmoor-relay", "--server", "127.0.0.1:40124"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RelayOptionsResult result = parseRelayOptions(args);
        EXPECT_EQ(result.action, CommandLineAction::Error) << c.args[0];
        EXPECT_NE(result.error.find(c.expectedInMessage), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
    }
}

TEST(RelayOptionsErrors, TheServerIsRequiredAndMustNotBeTheRelayItself) {
    EXPECT_NE(parse({"--loss", "0.1"}).error.find("--server is required"), std::string::npos);
    for (const auto& args : {std::vector<const char*>{"brassmoor-relay", "--server", "127.0.0.1:40123"},
                             std::vector<const char*>{"brassmoor-relay", "--listen", "127.0.0.1:5000",
                                                      "--server", "127.0.0.1:5000"},
                             std::vector<const char*>{"brassmoor-relay", "--listen", "127.0.0.1:5000",
                                                      "--server", "0.0.0.0:5000"}}) {
        const RelayOptionsResult result = parseRelayOptions(args);
        EXPECT_EQ(result.action, CommandLineAction::Error);
        EXPECT_NE(result.error.find("another port"), std::string::npos) << result.error;
    }
    // The same port on another address is another place.
    EXPECT_EQ(parse({"--listen", "127.0.0.1:5000", "--server", "127.0.0.2:5000"}).action, CommandLineAction::Run);
}

TEST(Ipv4EndpointText, ReadsAndWritesAddressAndPort) {
    Ipv4Endpoint endpoint;
    ASSERT_TRUE(parseIpv4Endpoint("192.168.1.20:40123", endpoint));
    EXPECT_EQ(endpoint, (Ipv4Endpoint{0xC0A80114, 40123}));
    EXPECT_EQ(formatIpv4Endpoint(endpoint), "192.168.1.20:40123");
    EXPECT_EQ(formatIpv4Endpoint(Ipv4Endpoint{0xFFFFFFFF, 65535}), "255.255.255.255:65535");
    ASSERT_TRUE(parseIpv4Endpoint("0.0.0.0:0", endpoint));
    EXPECT_EQ(endpoint, (Ipv4Endpoint{0, 0}));
    for (const char* bad : {"", ":1", "1.2.3.4", "1.2.3.4:", "1.2.3.4:-1", "1.2.3.4: 1", "1.2.3.4.5:1",
                            "256.0.0.1:1", "1.2.3.4:1:2", "1.2.3.4:080"}) {
        EXPECT_FALSE(parseIpv4Endpoint(bad, endpoint)) << bad;
    }
}

}  // namespace
}  // namespace brassmoor
