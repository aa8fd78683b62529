#include "assertion_capture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace assertion_capture {

const char* (*state_at_report)() = nullptr;

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

#ifdef _WIN32
namespace {
LONG CALLBACK on_exception(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != 0xE0008001u) return EXCEPTION_CONTINUE_SEARCH;
    const char* text = record->NumberParameters >= 1 ? reinterpret_cast<const char*>(record->ExceptionInformation[0]) : "";
    std::fprintf(stderr, "code=%08lX flags=%lu params=%lu text=%s end\n", static_cast<unsigned long>(record->ExceptionCode),
                 static_cast<unsigned long>(record->ExceptionFlags), static_cast<unsigned long>(record->NumberParameters),
                 hex(text).c_str());
    if (state_at_report) std::fprintf(stderr, "%s\n", state_at_report());
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kCaughtExitCode);
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

void catch_next_report() { AddVectoredExceptionHandler(1, on_exception); }
#else
namespace {
void on_abort(int) {
    const char* state = state_at_report();
    if (write(STDERR_FILENO, state, std::strlen(state)) < 0 || write(STDERR_FILENO, "\n", 1) < 0) _exit(1);
}
}  // namespace

outcome run_in_child(const std::function<void()>& statement) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        dup2(fds[1], STDERR_FILENO);
        if (state_at_report) signal(SIGABRT, on_abort);
        statement();
        _exit(0);
    }
    close(fds[1]);
    outcome result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) result.stderr_text.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.aborted = WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
    return result;
}
#endif

}  // namespace assertion_capture
