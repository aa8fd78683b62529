#include "support/UnknownBase.h"

#include <atomic>
#include <cstring>

#include "platform/assertion.h"
#include "platform/module_info.h"
#include "support/module_lock.h"

namespace quorrin {

namespace {

// Hosts match these reports by their text, so the location they name is fixed.
constexpr const char kReportFile[] = ".\\UnknownBase.cpp";
constexpr int kRefCountCheckLine = 27;

// The message is GBK (code page 936): "some CUnknownSingleThread-derived class has a wrong
// reference count at destruction".
constexpr const char kRefCountExpression[] =
    "(\"\xC4\xB3 CUnknownSingleThread \xC5\xC9\xC9\xFA\xC0\xE0\xCE\xF6\xB9\xB9\xCA\xB1\xD2\xFD"
    "\xD3\xC3\xBC\xC6\xCA\xFD\xB2\xBB\xD5\xFD\xC8\xB7\",m_dwRef == 1)";

// A report's text, built where nothing can fail for want of memory: the parts are bounded (the
// module path by its buffer), and a text that would not fit is cut short rather than lost.
class report_text {
public:
    report_text& operator<<(std::string_view part) {
        const std::size_t room = sizeof m_text - 1 - m_length;
        const std::size_t n = part.size() < room ? part.size() : room;
        std::memcpy(m_text + m_length, part.data(), n);
        m_length += n;
        m_text[m_length] = '\0';
        return *this;
    }
    report_text& operator<<(int line) {
        char digits[12];
        char* p = digits + sizeof digits;
        auto v = static_cast<unsigned>(line < 0 ? -static_cast<long long>(line) : line);
        do {
            *--p = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        if (line < 0) *--p = '-';
        return *this << std::string_view(p, static_cast<std::size_t>(digits + sizeof digits - p));
    }
    std::string_view view() const { return {m_text, m_length}; }
    const char* c_str() const { return m_text; }

private:
    char m_text[2 * platform::kModulePathCapacity];
    std::size_t m_length = 0;
};

// The raised text lives in static storage, so that a handler that unwinds before it reads the
// text still finds it; a report racing another one on a second thread keeps its own copy.
report_text g_raised_text;
std::atomic_flag g_raised_text_taken = ATOMIC_FLAG_INIT;

[[noreturn]] void raise_report(const report_text& text) {
    if (!g_raised_text_taken.test_and_set()) {
        g_raised_text = text;
        platform::raise_assertion(g_raised_text.c_str());
    }
    platform::raise_assertion(text.c_str());
}

// The title of the module's own file, written into path; "" when it cannot be had.
std::string_view module_file_title(char (&path)[platform::kModulePathCapacity]) {
    const void* own_code = reinterpret_cast<const void*>(&GetModulePath);
    if (!platform::is_readable_code(own_code)) return {};
    const std::size_t length = platform::module_path_into(own_code, path, sizeof path);
    const std::string_view whole(path, length);
    const std::size_t separator = whole.rfind(platform::kPathSeparator);
    if (separator == std::string_view::npos) return {};
    return whole.substr(separator + 1);
}

}  // namespace

void ReportAssertion(const char* expression, std::string_view detail, const char* file, int line) {
    report_text text;
    text << expression << " not true, detail: " << detail << " file: " << file << " line: " << line;
    raise_report(text);
}

void ReportAssertionBrief(const char* expression, const char* file, int line) {
    report_text text;
    text << expression << " not ture, file: " << file << ", line: " << line;
    raise_report(text);
}

byte_string GetModulePath() {
    const void* own_code = reinterpret_cast<const void*>(&GetModulePath);
    if (!platform::is_readable_code(own_code)) return {};
    char path[platform::kModulePathCapacity];
    return byte_string(path, platform::module_path_into(own_code, path, sizeof path));
}

byte_string GetModuleFileTitle() {
    char path[platform::kModulePathCapacity];
    return byte_string(module_file_title(path));
}

CUnknownSingleThread::CUnknownSingleThread(const char* name) : m_strName(name) { module_lock(); }

CUnknownSingleThread::~CUnknownSingleThread() {
    module_unlock();
    if (m_dwRef.load(std::memory_order_acquire) != 1) {
        // Nothing here allocates: the report must come out also when memory has run out.
        char path[platform::kModulePathCapacity];
        report_text detail;
        detail << m_strName << "@" << module_file_title(path);
        ReportAssertion(kRefCountExpression, detail.view(), kReportFile, kRefCountCheckLine);
    }
}

std::uint32_t CUnknownSingleThread::ReleaseImpl() {
    const std::uint32_t count = m_dwRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
        m_dwRef.store(1, std::memory_order_relaxed);
        delete this;
    }
    return count;
}

}  // namespace quorrin
