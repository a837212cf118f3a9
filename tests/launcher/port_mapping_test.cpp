// The router's answers about the hosted game's port: what is public, when it is asked again, and
// what the player reads.
#include <gtest/gtest.h>

#include "port_mapping.h"

namespace brassmoor {
namespace {

GatewayAnswer said(MappingOutcome outcome, const char* outside, int lease = 0) {
    return GatewayAnswer{outcome, "UPnP",           "10.0.0.1", "10.0.0.5", outside,
                         lease,   "UPnP error 718", {},         {},         {}};
}

TEST(PortMapping, ReservedBlocksAreNotPublicAndTheirNeighboursAre) {
    EXPECT_TRUE(isPublicAddress(0xAC200001));   // 172.32.0.1, just past 172.16/12
    EXPECT_FALSE(isPublicAddress(0xAC1FFFFF));  // 172.31.255.255
    EXPECT_FALSE(isPublicAddress(0x64400001));  // 100.64.0.1: carrier-grade NAT
    EXPECT_FALSE(isPublicAddress(0xCB007101));  // 203.0.113.1: documentation
}

TEST(PortMapping, AMappingIsRenewedAtHalfItsLeaseARefusalAskedAgainLaterAndEachChangeSaidOnce) {
    MappingStanding mapping = mappingFor(40123, {0x0A000005, 0xC0A80104});
    EXPECT_TRUE(mappingDue(mapping, 0.0));
    EXPECT_NE(mappingAnswered(mapping, said(MappingOutcome::Mapped, "1.1.1.1", 1200), 100.0), "");
    EXPECT_FALSE(mappingDue(mapping, 699.0));
    EXPECT_TRUE(mappingDue(mapping, 700.0));
    EXPECT_EQ(mappingAnswered(mapping, said(MappingOutcome::Mapped, "1.1.1.1", 1200), 700.0), "");
    EXPECT_NE(mappingAnswered(mapping, said(MappingOutcome::Refused, "1.1.1.1"), 1300.0), "");
    EXPECT_EQ(mapping.nextAsk, 1300.0 + MappingRetrySeconds);
    EXPECT_EQ(whatThePlayerCanDo(mapping),
              "your router did not accept the port mapping: forward UDP port 40123 to 10.0.0.5 by hand");
    mappingAnswered(mapping, GatewayAnswer{}, 1600.0);
    EXPECT_EQ(
        whatThePlayerCanDo(mapping),
        "no router answered UPnP or NAT-PMP: forward UDP port 40123 to 10.0.0.5 or 192.168.1.4 by hand");
}

}  // namespace
}  // namespace brassmoor
