// The router's answers about the hosted game's port: what is public, when it is asked again, and
// what the player reads.
#include <gtest/gtest.h>

#include "port_mapping.h"

namespace brassmoor {
namespace {

GatewayAnswer answer(MappingOutcome outcome, std::string outside, int lease = 0) {
    GatewayAnswer said{outcome, "UPnP",           "10.0.0.1", "10.0.0.5", std::move(outside),
                       lease,   "UPnP error 718", {},         {},         {}};
    return said;
}

TEST(PortMapping, ReservedBlocksAreNotPublicAndTheirNeighboursAre) {
    EXPECT_TRUE(isPublicAddress(0x01010101));   // 1.1.1.1
    EXPECT_TRUE(isPublicAddress(0xAC200001));   // 172.32.0.1, just past 172.16/12
    EXPECT_FALSE(isPublicAddress(0xAC1FFFFF));  // 172.31.255.255
    EXPECT_FALSE(isPublicAddress(0x64400001));  // 100.64.0.1: carrier-grade NAT
    EXPECT_FALSE(isPublicAddress(0xCB007101));  // 203.0.113.1: documentation
    EXPECT_FALSE(isPublicAddress(0xFFFFFFFF));
}

TEST(PortMapping, AMappingIsRenewedAtHalfItsLeaseAndARefusalAskedAgainLaterOneLineEachChange) {
    MappingStanding mapping = mappingFor(40123, {});
    EXPECT_TRUE(mappingDue(mapping, 0.0));
    EXPECT_NE(mappingAnswered(mapping, answer(MappingOutcome::Mapped, "198.51.100.7", 1200), 100.0), "");
    EXPECT_FALSE(mappingDue(mapping, 699.0));
    EXPECT_TRUE(mappingDue(mapping, 700.0));
    EXPECT_EQ(mappingAnswered(mapping, answer(MappingOutcome::Mapped, "198.51.100.7", 1200), 700.0), "");
    EXPECT_NE(mappingAnswered(mapping, answer(MappingOutcome::Refused, "198.51.100.7"), 1300.0), "");
    EXPECT_EQ(mapping.nextAsk, 1300.0 + MappingRetrySeconds);
}

TEST(PortMapping, ThePlayerIsToldWhatToDoAsTheRouterAnswered) {
    MappingStanding mapping = mappingFor(40123, {0x0A000005, 0xC0A80104});
    EXPECT_EQ(whatThePlayerCanDo(mapping), "");
    mappingAnswered(mapping, GatewayAnswer{}, 0.0);
    EXPECT_EQ(
        whatThePlayerCanDo(mapping),
        "no router answered UPnP or NAT-PMP: forward UDP port 40123 to 10.0.0.5 or 192.168.1.4 by hand");
    mappingAnswered(mapping, answer(MappingOutcome::Refused, "1.1.1.1"), 0.0);
    EXPECT_EQ(whatThePlayerCanDo(mapping),
              "your router did not accept the port mapping: forward UDP port 40123 to 10.0.0.5 by hand");
    mappingAnswered(mapping, answer(MappingOutcome::Refused, "100.64.0.9"), 0.0);
    EXPECT_EQ(
        mapping.lastLine,
        "router 10.0.0.1 (UPnP): did not forward UDP port 40123 (UPnP error 718); its outside address "
        "100.64.0.9 is not public: the router is itself behind another NAT, such as a provider's "
        "carrier-grade NAT, so the game cannot be reached from the Internet; players on this computer's "
        "networks can still join");
}

}  // namespace
}  // namespace brassmoor
