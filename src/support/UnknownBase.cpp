#include "support/UnknownBase.h"

#include "platform/assertion.h"
#include "platform/module_info.h"
#include "support/module_lock.h"
#include "support/text.h"

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

}  // namespace

void ReportAssertion(const char* expression, const std::string& detail, const char* file, int line) {
    std::string text = expression;
    text += " not true, detail: ";
    text += detail;
    text += " file: ";
    text += file;
    text += " line: ";
    text += decimal_text(line);
    platform::raise_assertion(text.c_str());
}

void ReportAssertionBrief(const char* expression, const char* file, int line) {
    std::string text = expression;
    text += " not ture, file: ";
    text += file;
    text += ", line: ";
    text += decimal_text(line);
    platform::raise_assertion(text.c_str());
}

std::string GetModulePath() {
    const void* own_code = reinterpret_cast<const void*>(&GetModulePath);
    if (!platform::is_readable_code(own_code)) return {};
    return platform::module_path_of(own_code);
}

std::string GetModuleFileTitle() {
    const std::string path = GetModulePath();
    const std::size_t separator = path.rfind(platform::kPathSeparator);
    if (separator == std::string::npos) return {};
    return path.substr(separator + 1);
}

CUnknownSingleThread::CUnknownSingleThread(const char* name) : m_strName(name) { module_lock(); }

CUnknownSingleThread::~CUnknownSingleThread() {
    module_unlock();
    if (m_dwRef != 1) {
        ReportAssertion(kRefCountExpression, m_strName + "@" + GetModuleFileTitle(), kReportFile, kRefCountCheckLine);
    }
}

std::uint32_t CUnknownSingleThread::ReleaseImpl() {
    const std::uint32_t count = --m_dwRef;
    if (count == 0) {
        m_dwRef = 1;
        delete this;
    }
    return count;
}

}  // namespace quorrin
