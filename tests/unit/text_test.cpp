#include <gtest/gtest.h>

#include <cstring>

#include "support/text.h"

namespace {

using quorrin::decimal_text;
using quorrin::hex_id_text;
using quorrin::parse_ipv4;

TEST(DecimalText, Extremes) {
    EXPECT_EQ("0", decimal_text(0));
    EXPECT_EQ("12", decimal_text(12));
    EXPECT_EQ("-3", decimal_text(-3));
    EXPECT_EQ("2147483647", decimal_text(2147483647));
    EXPECT_EQ("-2147483648", decimal_text(-2147483647 - 1));
}

TEST(HexIdText, OnlyTwentyBytesAreEncoded) {
    std::string ascending;
    for (int i = 0; i < 20; ++i) ascending += static_cast<char>(i);
    EXPECT_EQ("000102030405060708090A0B0C0D0E0F10111213", hex_id_text(ascending));
    EXPECT_EQ(std::string(40, 'F'), hex_id_text(std::string(20, '\xFF')));
    for (std::size_t length : {0u, 19u, 21u, 40u}) {
        EXPECT_EQ("", hex_id_text(std::string(length, 'A'))) << "length " << length;
    }
}

TEST(ParseIpv4, NetworkOrderInMemory) {
    const std::uint32_t address = parse_ipv4("1.2.3.4");
    unsigned char bytes[4];
    std::memcpy(bytes, &address, 4);
    EXPECT_EQ(1, bytes[0]);
    EXPECT_EQ(2, bytes[1]);
    EXPECT_EQ(3, bytes[2]);
    EXPECT_EQ(4, bytes[3]);
    EXPECT_EQ(67305985u, address);
}

TEST(ParseIpv4, BadTextAndBroadcastAreTheSameValue) {
    EXPECT_EQ(0xFFFFFFFFu, parse_ipv4("none"));
    EXPECT_EQ(0xFFFFFFFFu, parse_ipv4("255.255.255.255"));
    EXPECT_EQ(0xFFFFFFFFu, parse_ipv4("1.2.3.256"));
    // Parsing stops at the first NUL, as inet_addr does.
    EXPECT_EQ(parse_ipv4("10.0.0.1"), parse_ipv4(std::string("10.0.0.1\0junk", 13)));
}

}  // namespace
