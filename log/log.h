// Diagnostics log: one plain-text file, switched on only by the presence of
// the folder "xellog_QOR_ZAF" in the user's temporary folder. Every line is
// written by opening, appending and closing the file; nothing is kept
// between calls, and no writer ever reports to the user.
#pragma once

#include <cstddef>

#if defined(__GNUC__)
#define QLOG_PRINTF(fmt, first) __attribute__((format(ms_printf, fmt, first)))
#else
#define QLOG_PRINTF(fmt, first)
#endif

// Builds "<temp>\xellog_QOR_ZAF\XelQuendral.log", copies it into outPath
// (1024 bytes) when given, and probes the file with "ab+".
// Returns 1 when the file could be opened, 0 when not.
int GetLogFilePath(char* outPath = nullptr);

// printf-style lines; -1 when the log file cannot be opened, else 0.
int LogInfo(const char* format, ...) QLOG_PRINTF(1, 2);
int LogError(const char* format, ...) QLOG_PRINTF(1, 2);

// Message, a tab, then `length` bytes as upper-case hex. 1 without writing for
// null data or a length outside 1..4095; -1 when the file cannot be opened.
int LogHex(const void* data, int length, const char* format, ...) QLOG_PRINTF(3, 4);

// Scope tracer: an enter line on creation, a leave line with the elapsed
// time on every way out of the scope.
class FuncTracer {
public:
    explicit FuncTracer(const char* name);
    ~FuncTracer();
    FuncTracer(const FuncTracer&) = delete;
    FuncTracer& operator=(const FuncTracer&) = delete;

private:
    int startMs_;
    char name_[1024];
    unsigned depth_;
};

namespace qlog {
// Test seam: makes the executable-name lookup fail, to exercise the fallback.
void SetModuleNameFailsForTest(bool fails);
}
