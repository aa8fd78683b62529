#include <gtest/gtest.h>

#include "assertion_capture.h"
#include "config/CStringSetter.h"
#include "support/UnknownBase.h"
#include "support/module_lock.h"

namespace {

using quorrin::CStringSetter;

// The GBK bytes of the reference-count message.
const char kRefCountMessage[] =
    "\xC4\xB3 CUnknownSingleThread \xC5\xC9\xC9\xFA\xC0\xE0\xCE\xF6\xB9\xB9\xCA\xB1\xD2\xFD\xD3\xC3\xBC\xC6\xCA\xFD\xB2\xBB\xD5\xFD\xC8\xB7";

TEST(ObjectBaseLifetime, CountsFromOneAndDeletesOnLastRelease) {
    quorrin::byte_string destination;
    const std::int32_t before = quorrin::module_lock_count();
    auto* setter = new CStringSetter(&destination);
    EXPECT_EQ(before + 1, quorrin::module_lock_count());
    EXPECT_EQ(2u, setter->AddRef());
    EXPECT_EQ(1u, setter->Release());
    EXPECT_EQ(0u, setter->Release());
    EXPECT_EQ(before, quorrin::module_lock_count());
}

TEST(ObjectBaseLifetime, EachLiveObjectHoldsTheModule) {
    quorrin::byte_string a, b;
    const std::int32_t before = quorrin::module_lock_count();
    auto* first = new CStringSetter(&a);
    {
        CStringSetter second(&b);
        EXPECT_EQ(before + 2, quorrin::module_lock_count());
    }
    EXPECT_EQ(before + 1, quorrin::module_lock_count());
    first->Release();
    EXPECT_EQ(before, quorrin::module_lock_count());
}

TEST(ObjectBaseModule, FileTitleIsTheLastPathPart) {
    const quorrin::byte_string path = quorrin::GetModulePath();
    const quorrin::byte_string title = quorrin::GetModuleFileTitle();
    ASSERT_FALSE(path.empty());
    ASSERT_FALSE(title.empty());
    EXPECT_EQ(path.substr(path.size() - title.size()), title);
    EXPECT_NE(quorrin::byte_string::npos, title.find("unit_tests"));
}

TEST(ObjectBaseAssertionDeathTest, DeletingAHeldObjectReportsItsNameAndModule) {
    const std::string expected = std::string("(\"") + kRefCountMessage + "\",m_dwRef == 1) not true, detail: CStringSetter@" +
                                 std::string(quorrin::GetModuleFileTitle()) + " file: .\\UnknownBase.cpp line: 27";
    EXPECT_ASSERTION_REPORT(
        {
            quorrin::byte_string destination;
            auto* setter = new CStringSetter(&destination);
            setter->AddRef();
            delete setter;
        },
        expected);
}

TEST(ObjectBaseAssertionDeathTest, BriefReportText) {
    EXPECT_ASSERTION_REPORT(quorrin::ReportAssertionBrief("_msize calls must debug", ".\\vqnew.cpp", 76),
                            "_msize calls must debug not ture, file: .\\vqnew.cpp, line: 76");
}

}  // namespace
