#include "log/log.h"

#include <windows.h>
#include <psapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char kLogRelPath[] = "xellog_QOR_ZAF\\XelQuendral.log";

constexpr size_t kLineBuf = 10240;
constexpr size_t kEnterBuf = 2048;
constexpr size_t kLeaveBuf = 1024;

bool g_moduleNameFails = false;

// Elapsed milliseconds since process start; on Windows clock() counts wall time.
int NowMs() { return static_cast<int>(clock() * 1000LL / CLOCKS_PER_SEC); }

// Fills the module name; false when it cannot be obtained.
bool GetCallerName(char* out, size_t size) {
    memset(out, 0, size);
    if (g_moduleNameFails) return false;
    DWORD n = GetModuleBaseNameA(GetCurrentProcess(), nullptr, out, static_cast<DWORD>(size));
    return n > 0;
}

// Writes the common prefix "[date time.ms][pid-tid][caller] LEVEL " into buf.
int FormatPrefix(char* buf, size_t size, const char* level, bool funcLine) {
    char caller[512];
    const char* name = caller;
    if (!GetCallerName(caller, sizeof caller)) name = funcLine ? "UnknownCaller" : "UnknownCaller ";
    SYSTEMTIME st;
    GetLocalTime(&st);
    int n = snprintf(buf, size, "[%04d-%02d-%02d %02d:%02d:%02d.%04d][%ld-%ld][%s] %s", st.wYear, st.wMonth,
                     st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                     static_cast<long>(GetCurrentProcessId()), static_cast<long>(GetCurrentThreadId()), name, level);
    if (n < 0) return 0;
    return n < static_cast<int>(size) ? n : static_cast<int>(size) - 1;
}

// Formats into buf[pos..size); always leaves room for `reserve` bytes and a NUL.
size_t AppendV(char* buf, size_t pos, size_t size, size_t reserve, const char* fmt, va_list ap) {
    if (pos + reserve + 1 >= size) return pos;
    size_t room = size - pos - reserve;
    int n = vsnprintf(buf + pos, room, fmt, ap);
    if (n < 0) {
        buf[pos] = 0;
        return pos;
    }
    size_t written = static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
    buf[pos + written] = 0;
    return pos + written;
}

void WriteLine(const char* path, const char* line, size_t len) {
    FILE* f = fopen(path, "ab+");
    if (!f) return;
    fwrite(line, 1, len, f);
    fclose(f);
}

int WriteLevelLine(const char* level, const void* hexData, int hexLen, const char* fmt, va_list ap) {
    char path[1024];
    if (!GetLogFilePath(path)) return -1;
    char line[kLineBuf];
    memset(line, 0, sizeof line);
    size_t pos = static_cast<size_t>(FormatPrefix(line, sizeof line, level, false));
    // Hex digits and the line end must fit after the message.
    size_t reserve = 2 + (hexData ? 1 + 2 * static_cast<size_t>(hexLen) : 0);
    pos = AppendV(line, pos, sizeof line, reserve, fmt ? fmt : "", ap);
    if (hexData) {
        static const char digits[] = "0123456789ABCDEF";
        const unsigned char* p = static_cast<const unsigned char*>(hexData);
        line[pos++] = '\t';
        for (int i = 0; i < hexLen; ++i) {
            line[pos++] = digits[p[i] >> 4];
            line[pos++] = digits[p[i] & 0x0F];
        }
    }
    line[pos++] = '\r';
    line[pos++] = '\n';
    WriteLine(path, line, pos);
    return 0;
}

} // namespace

int GetLogFilePath(char* outPath) {
    char temp[1024];
    memset(temp, 0, sizeof temp);
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) temp[0] = 0;
    char path[1024];
    memset(path, 0, sizeof path);
    size_t len = strlen(temp);
    bool sep = len > 0 && (temp[len - 1] == '\\' || temp[len - 1] == '/');
    snprintf(path, sizeof path, sep ? "%s%s" : "%s\\%s", temp, kLogRelPath);
    if (outPath) memcpy(outPath, path, sizeof path);
    FILE* f = fopen(path, "ab+");
    if (!f) return 0;
    fclose(f);
    return 1;
}

int LogInfo(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int r = WriteLevelLine("INF ", nullptr, 0, format, ap);
    va_end(ap);
    return r;
}

int LogError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int r = WriteLevelLine("ERR ", nullptr, 0, format, ap);
    va_end(ap);
    return r;
}

int LogHex(const void* data, int length, const char* format, ...) {
    if (!data || length < 1 || length > 4095) return 1;
    va_list ap;
    va_start(ap, format);
    int r = WriteLevelLine("Hex ", data, length, format, ap);
    va_end(ap);
    return r;
}

FuncTracer::FuncTracer(const char* name) : startMs_(NowMs()), depth_(1) {
    memset(name_, 0, sizeof name_);
    const char* n = (name && *name) ? name : "Function_Name_Not_Define";
    strncpy(name_, n, sizeof name_ - 1);
    char path[1024];
    if (!GetLogFilePath(path)) return;
    char line[kEnterBuf];
    memset(line, 0, sizeof line);
    int pos = FormatPrefix(line, sizeof line, "FUNC ", true);
    // "-> name()\r\n": cut the name so the line end always fits.
    int room = static_cast<int>(sizeof line) - pos - 1 - 7;
    int len = snprintf(line + pos, sizeof line - pos, "%s-> %.*s()\r\n", "", room > 0 ? room : 0, name_);
    if (len > 0) WriteLine(path, line, pos + static_cast<size_t>(len));
}

FuncTracer::~FuncTracer() {
    char path[1024];
    if (!GetLogFilePath(path)) return;
    double secs = (NowMs() - startMs_) / 1000.0;
    char indent[64];
    memset(indent, 0, sizeof indent);
    for (unsigned i = 1; i < depth_ && (i * 4 + 4) < sizeof indent; ++i) strcat(indent, "    ");
    char line[kLeaveBuf];
    memset(line, 0, sizeof line);
    int pos = FormatPrefix(line, sizeof line, "FUNC ", true);
    char timeText[64];
    snprintf(timeText, sizeof timeText, "(),use time:%fs\r\n\r\n", secs);
    int fixed = static_cast<int>(strlen(indent) + 3 + strlen(timeText));
    int room = static_cast<int>(sizeof line) - pos - 1 - fixed;
    int len = snprintf(line + pos, sizeof line - pos, "%s<- %.*s%s", indent, room > 0 ? room : 0, name_, timeText);
    if (len > 0) WriteLine(path, line, pos + static_cast<size_t>(len));
}

namespace qlog {
void SetModuleNameFailsForTest(bool fails) { g_moduleNameFails = fails; }
} // namespace qlog
