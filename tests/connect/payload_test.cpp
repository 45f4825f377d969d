#include "support/strings.h"
#include "ui/connect/connect_payload.h"
#include "ui/connect/connect_variant.h"
#include "ui/connect/hotspot.h"

#include <gtest/gtest.h>

using namespace ui::welcome;

TEST(ConnectPayload, CompactJsonWithTheSessionPortAndALineFeed) {
    EXPECT_EQ(connectPayload(support::string2ip("192.168.1.5")),
              "{\"action\":\"connect\",\"data\":\"tcp://192.168.1.5:49873\"}\n");
    EXPECT_EQ(connectPayload("10.0.0.200"), "{\"action\":\"connect\",\"data\":\"tcp://10.0.0.200:49873\"}\n");
}

TEST(ConnectPayload, ConnectionNumberHasTheFirstOctetLast) {
    EXPECT_EQ(connectionNumber(support::string2ip("192.168.1.5")), "0501 A8C0");
    EXPECT_EQ(connectionNumber(support::string2ip("10.0.0.255")), "FF00 000A");
}

TEST(Hotspot, SsidHashesTheNameBytesAsSignedValues) {
    const uint32_t pc01 = 33u * 33u * 33u * 80u + 33u * 33u * 67u + 33u * 48u + 49u;
    EXPECT_EQ(hotspotSsid("PC01"), "Virtual_AP_" + std::to_string(pc01) + "d");
    EXPECT_EQ(hotspotSsid(""), "Virtual_AP_0d");
    // "é" is C3 A9 in UTF-8: -61 and -87 as signed bytes, wrapping.
    const uint32_t e = uint32_t(-61) * 33u + uint32_t(-87);
    EXPECT_EQ(hotspotSsid("\xC3\xA9"), "Virtual_AP_" + std::to_string(e) + "d");
}

TEST(Hotspot, UsableAddresses) {
    EXPECT_TRUE(isUsableHotspotAddress("192.168.137.1"));
    EXPECT_TRUE(isUsableHotspotAddress("10.169.0.1"));  // only a leading "169." is link-local
    EXPECT_FALSE(isUsableHotspotAddress("169.254.1.1"));
    EXPECT_FALSE(isUsableHotspotAddress("0.0.0.0"));
    EXPECT_FALSE(isUsableHotspotAddress(""));
    // Without a backend the hotspot never opens and has no address.
    auto none = makeUnavailableHotspot("PC01");
    EXPECT_FALSE(none->openHotspot());
    EXPECT_EQ(none->hostedNetworkAddress(), "");
    EXPECT_FALSE(none->isHostedNetworkAddress(""));
    EXPECT_EQ(none->hotspotSsid(), hotspotSsid("PC01"));
}

TEST(ConnectVariant, ColoursAndExtrasByProductId) {
    EXPECT_EQ(connectVariant("").colour, 0xFF4C81D1u);
    EXPECT_EQ(connectVariant("unknown").colour, 0xFF4C81D1u);
    EXPECT_EQ(connectVariant(kEmberProductId).colour, 0xFFE95513u);
    EXPECT_EQ(connectVariant(kLeafProductId).colour, 0xFF59A833u);
    EXPECT_EQ(connectVariant(kCoralProductId).colour, 0xFFFE7146u);
    EXPECT_TRUE(connectVariant(kCoralProductId).mirroringButton);
    EXPECT_FALSE(connectVariant(kEmberProductId).mirroringButton);
    EXPECT_TRUE(connectVariant(kNumberProductIdA).connectionNumber);
    EXPECT_TRUE(connectVariant(kNumberProductIdB).connectionNumber);
    EXPECT_FALSE(connectVariant("").connectionNumber);
}
