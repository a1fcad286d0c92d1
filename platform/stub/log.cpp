// Log service and bounded string helpers.
//
// vsyslog2 formats the whole text (with %M) and hands it to the platform's
// log output, which writes one line per line of text to the system log and
// to the log file when one is set. The flags PLAT_LOG_TRACE and PLAT_LOG_MSG
// select nothing here: every line goes out, and the full priority word is
// kept in the call log for tests.

#include "platform/log.h"

#include "platform/stub/format.h"
#include "platform/stub/log_record.h"
#include "platform/stub/logfile.h"
#include "platform/testing.h"

#include <cstdio>
#include <cstring>
#include <syslog.h>

namespace {

class BufferSink final : public plat::FormatSink {
public:
    BufferSink(char* buf, size_t size) : m_buf(buf), m_room(size - 1) {}
    bool append(const char* p, size_t n) override
    {
        size_t take = n < m_room - m_len ? n : m_room - m_len;
        std::memcpy(m_buf + m_len, p, take);
        m_len += take;
        return m_len < m_room;
    }
    size_t length() const { return m_len; }

private:
    char* m_buf;
    size_t m_room;  // characters that fit before the terminating NUL
    size_t m_len = 0;
};

}  // namespace

void vsyslog2(uint32_t uiPriority, const char* szIdent, const char* szTag, const char* szFormat, va_list args)
{
    const char* ident = szIdent != nullptr ? szIdent : "";
    const char* tag = szTag != nullptr ? szTag : "";
    if (plat::testing::fault("vsyslog2")) {
        // A line the log service cannot take is lost.
        plat::testing::record("vsyslog2", std::string("tag=") + tag + " lost by fault");
        return;
    }
    std::string text = plat::formatString(szFormat, args);
    if (plat::testing::recording()) {
        char pri[16];
        std::snprintf(pri, sizeof pri, "0x%08x", uiPriority);
        plat::testing::record("vsyslog2", std::string("pri=") + pri + " ident=" + ident + " tag=" + tag + " text=" + text,
                              plat::LogRecord{uiPriority, ident, tag, text});
    }
    plat::writeLog(static_cast<int>(uiPriority & 0xFFu), ident, tag, text);
}

void closelog2(const char* szIdent)
{
    if (plat::testing::fault("closelog2")) {
        plat::testing::record("closelog2", "lost by fault");
        return;
    }
    plat::testing::record("closelog2", std::string("ident=") + (szIdent != nullptr ? szIdent : ""));
    ::closelog();
    plat::closeLogFile();
}

int vscnprintf(char* buf, size_t size, const char* fmt, va_list args)
{
    if (buf == nullptr || size == 0) return 0;
    BufferSink sink(buf, size);
    plat::formatTo(sink, fmt, args);
    buf[sink.length()] = '\0';
    return static_cast<int>(sink.length());
}

int scnprintf(char* buf, size_t size, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int n = vscnprintf(buf, size, fmt, args);
    va_end(args);
    return n;
}

size_t strlcpy(char* dst, const char* src, size_t size)
{
    size_t len = std::strlen(src);
    if (size != 0) {
        size_t n = len < size - 1 ? len : size - 1;
        std::memcpy(dst, src, n);
        dst[n] = '\0';
    }
    return len;
}
