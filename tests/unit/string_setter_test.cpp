#include <gtest/gtest.h>

#include "config/CStringSetter.h"

namespace {

using quorrin::CStringSetter;

TEST(StringSetter, ReplacesWholeContent) {
    quorrin::byte_string destination = "held text";
    CStringSetter setter(&destination);
    EXPECT_EQ(S_OK, setter.SetString(0, nullptr));
    EXPECT_EQ("", destination);
    EXPECT_EQ(S_OK, setter.SetString(5, "ab\0cd"));
    EXPECT_EQ(std::string("ab\0cd", 5), destination);
    EXPECT_EQ(5u, destination.size());
    setter.SetString(5, "first");
    setter.SetString(6, "second");
    EXPECT_EQ("second", destination);
}

TEST(StringSetter, NullCharactersWithALengthChangeNothing) {
    quorrin::byte_string destination = "kept";
    CStringSetter setter(&destination);
    EXPECT_EQ(E_POINTER, setter.SetString(4, nullptr));
    EXPECT_EQ("kept", destination);
}

TEST(StringSetter, ConstructionAndDestructionLeaveTheDestination) {
    quorrin::byte_string destination = "default";
    { CStringSetter setter(&destination); }
    EXPECT_EQ("default", destination);
}

TEST(StringSetter, QueryInterface) {
    quorrin::byte_string destination;
    CStringSetter setter(&destination);
    void* as_setter = nullptr;
    void* as_unknown = nullptr;
    EXPECT_EQ(S_OK, setter.QueryInterface(IID_IStringSetter, &as_setter));
    EXPECT_EQ(S_OK, setter.QueryInterface(IID_IUnknown, &as_unknown));
    EXPECT_EQ(as_setter, as_unknown);
    EXPECT_EQ(3u, setter.ref_count());
    void* other = &destination;
    EXPECT_EQ(E_NOINTERFACE, setter.QueryInterface(IID_IHostData, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(E_POINTER, setter.QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(3u, setter.ref_count());
    setter.Release();
    setter.Release();
}

}  // namespace
