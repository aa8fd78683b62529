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
    EXPECT_EQ(parse_ipv4("10.0.0.1"), parse_ipv4(quorrin::byte_string("10.0.0.1\0junk", 13)));
}

// One table for both builds: the Win32 build asks the sockets library, the native build its own
// conversion, and each must give these values (Windows documents "" and " ").
TEST(ParseIpv4, SameValuesAsTheWin32SocketsLibrary) {
    constexpr std::uint32_t none = 0xFFFFFFFFu;
    const struct {
        const char* text;
        std::uint32_t expected;  // as read from memory: 1.2.3.4 is 0x04030201
    } cases[] = {
        {"1.2.3.4", 0x04030201},      {"0.0.0.0", 0},
        {"", none},                   {" ", 0},
        {"  ", none},                 {"\t", none},
        {" 1.2.3.4", none},           {"1.2.3.4 ", 0x04030201},
        {"1.2.3.4 junk", 0x04030201}, {"1.2.3.4\tjunk", 0x04030201},
        {"1.2.3.4\n", 0x04030201},    {"1.2.3.4x", none},
        {"1.2.3.4\xA0", none},        {"1.2.3.4.", none},
        {"1.2.3.4.5", none},          {"1..2.3", none},
        {".1.2.3", none},             {"1.2.3.", none},
        {"10.0.0", 0x0000000A},       {"10.1", 0x0100000A},
        {"10.65536", 0x0000010A},     {"1.16777215", 0xFFFFFF01},
        {"1.16777216", none},         {"1.2.65535", 0xFFFF0201},
        {"1.2.65536", none},          {"167772161", 0x0100000A},
        {"0", 0},                     {"4294967295", none},
        {"4294967296", none},         {"99999999999999999999", none},
        {"256.1.1.1", none},          {"1.2.3.256", none},
        {"255.255.255.255", none},    {"010.0.0.1", 0x01000008},
        {"00000000001.2.3.4", 0x04030201}, {"0x0A.0.0.1", 0x0100000A},
        {"0XfF.0.0.1", 0x010000FF},   {"0x100.0.0.1", none},
        {"08.0.0.1", none},           {"09", none},
        {"0x", none},                 {"0x.1.1.1", none},
        {"0xg", none},                {"+1.2.3.4", none},
        {"-1", none},                 {"1.-2.3.4", none},
        {"1. 2.3.4", none},           {"1 .2.3.4", 0x01000000},
        {"abc", none},                {"none", none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, parse_ipv4(c.text)) << "\"" << c.text << "\"";
    }
}

}  // namespace
