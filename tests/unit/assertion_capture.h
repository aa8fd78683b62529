// Runs a statement that must raise the module's assertion report, and checks the report's text
// byte for byte. Natively the statement runs in a forked child whose stderr is read back and
// which must die by abort. On Win32 it runs in a death-test child that catches the structured
// exception 0xE0008001 with a vectored handler and prints its code, flags, argument count and
// text (as hex) before exiting.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace assertion_capture {

std::string hex(const std::string& bytes);

// When set, what it returns is written to stderr as a line of its own after the report, at the
// moment the report is raised: the module's state as a host that handles the report finds it.
extern const char* (*state_at_report)();

#ifdef _WIN32
constexpr int kCaughtExitCode = 0x5A;
// Installs the handler; the next assertion report ends the process with kCaughtExitCode.
void catch_next_report();
// What the handler prints for a report with this text.
inline std::string caught_text(const std::string& text) {
    return "code=E0008001 flags=1 params=1 text=" + hex(text) + " end";
}
// The death test's stderr must match pattern.
#define EXPECT_ASSERTION_EXIT(statement, pattern)                                \
    EXPECT_EXIT(                                                                 \
        {                                                                        \
            assertion_capture::catch_next_report();                              \
            statement;                                                           \
        },                                                                       \
        ::testing::ExitedWithCode(assertion_capture::kCaughtExitCode), pattern)
#define EXPECT_ASSERTION_REPORT(statement, expected_text) \
    EXPECT_ASSERTION_EXIT(statement, assertion_capture::caught_text(expected_text))
// The report, then the line that state_at_report gave.
#define EXPECT_ASSERTION_REPORT_THEN(statement, expected_text, expected_state) \
    EXPECT_ASSERTION_EXIT(statement, assertion_capture::caught_text(expected_text) + "\n" + (expected_state))
#else
struct outcome {
    bool aborted = false;
    std::string stderr_text;
};
outcome run_in_child(const std::function<void()>& statement);
#define EXPECT_ASSERTION_REPORT(statement, expected_text)                                              \
    do {                                                                                               \
        const assertion_capture::outcome outcome_ = assertion_capture::run_in_child([&] { statement; }); \
        EXPECT_TRUE(outcome_.aborted) << "the statement did not abort";                                \
        EXPECT_EQ(assertion_capture::hex(outcome_.stderr_text),                                        \
                  assertion_capture::hex(std::string(expected_text) + "\n"));                          \
    } while (false)
#define EXPECT_ASSERTION_REPORT_THEN(statement, expected_text, expected_state) \
    EXPECT_ASSERTION_REPORT(statement, std::string(expected_text) + "\n" + (expected_state))
#endif

}  // namespace assertion_capture
