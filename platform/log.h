// Log service and bounded string helpers of the platform C library.
//
// vsyslog2(priority, ident, tag, format, args): the low byte of the
// priority word is a syslog facility and severity; the flags
// PLAT_LOG_TRACE (0x10000000) and PLAT_LOG_MSG (0x01000000) mark trace
// lines and logged/debug messages. Lines go to the system log, and, when a
// log file is set (platform settings), to that file as
//   <UTC time> <ident>[<pid>] <tag> <severity>: <text>
// one line per line of text ("\r\n" and "\n" end lines; empty lines are
// dropped). Formats are printf's plus %M: a 6-byte MAC address given by
// pointer, printed as xx:xx:xx:xx:xx:xx and honouring flags and width
// (%-16M pads to 16 on the right).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

constexpr uint32_t PLAT_LOG_TRACE = 0x10000000u;
constexpr uint32_t PLAT_LOG_MSG = 0x01000000u;

void vsyslog2(uint32_t uiPriority, const char* szIdent, const char* szTag, const char* szFormat, va_list args);
void closelog2(const char* szIdent);

// Formats like vsnprintf (with %M) and returns the number of characters
// actually written into buf, not counting the NUL; 0 when size is 0.
int vscnprintf(char* buf, size_t size, const char* fmt, va_list args);
int scnprintf(char* buf, size_t size, const char* fmt, ...);  // no format attribute: %M is ours
// Copies at most size-1 characters and terminates; returns strlen(src).
size_t strlcpy(char* dst, const char* src, size_t size);
