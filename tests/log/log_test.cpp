// Log writer: line formats read back from the real file, the folder switch,
// and the bounds of the line buffers.
#include "log/log.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>

using namespace testenv;

namespace {

std::string Prefix(const char* caller) {
    return std::string(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.0\d{3}\]\[)") + std::to_string(GetCurrentProcessId()) +
           "-" + std::to_string(GetCurrentThreadId()) + R"(\]\[)" + caller + R"(\] )";
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { EnableLog(); }
    void TearDown() override { qlog::SetModuleNameFailsForTest(false); }
};

} // namespace

TEST(LogOff, WithoutFolderNothingIsWrittenOrCreated) {
    DisableLog();
    EXPECT_EQ(-1, LogInfo("hello %d", 1));
    EXPECT_EQ(-1, LogError("x"));
    EXPECT_EQ(-1, LogHex("\x01", 1, "OEMINFO:"));
    { FuncTracer t("Traced"); }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((TempDir() + "xellog_QOR_ZAF").c_str()));
    EXPECT_EQ(0, GetLogFilePath());
}

TEST_F(LogTest, PathIsTempFolderPlusLogFile) {
    char path[1024];
    ASSERT_EQ(1, GetLogFilePath(path));
    EXPECT_EQ(TempDir() + "xellog_QOR_ZAF\\XelQuendral.log", std::string(path));
    EXPECT_EQ(std::string::npos, std::string(path).find("\\\\"));
}

TEST_F(LogTest, TempFolderWithForwardSlashGetsNoSecondSeparator) {
    std::string dir = TempDir() + "fwd";
    CreateDirectoryA(dir.c_str(), nullptr);
    CreateDirectoryA((dir + "\\xellog_QOR_ZAF").c_str(), nullptr);
    SetEnvironmentVariableA("TMP", (dir + "/").c_str());
    char temp[1024] = {};
    GetTempPathA(sizeof temp, temp);
    char path[1024];
    ASSERT_EQ(1, GetLogFilePath(path));
    EXPECT_EQ(std::string(temp) + "xellog_QOR_ZAF\\XelQuendral.log", std::string(path));
    size_t at = std::string(path).find("xellog_QOR_ZAF");
    ASSERT_NE(std::string::npos, at);
    EXPECT_TRUE(path[at - 1] == '\\' || path[at - 1] == '/');
    EXPECT_FALSE(path[at - 2] == '\\' || path[at - 2] == '/');
}

TEST_F(LogTest, FirstLineCreatesTheFile) {
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(LogPath().c_str()));
    EXPECT_EQ(0, LogInfo("OnDeviceChange Come"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(LogPath().c_str()));
}

TEST_F(LogTest, LevelLinesHaveThePrefixAndEndInCrLf) {
    ASSERT_EQ(0, LogInfo("OnDeviceChange Come"));
    ASSERT_EQ(0, LogError("SKF_ConnectDev Error=0x%08x", 0xE0300001u));
    const unsigned char bytes[] = {0x0A, 0xFF, 0x3C};
    ASSERT_EQ(0, LogHex(bytes, 3, "OEMINFO:"));
    std::string log = ReadLog();
    std::string exe = "log_test\\.exe";
    std::regex expected(Prefix(exe.c_str()) + "INF OnDeviceChange Come\r\n" + Prefix(exe.c_str()) +
                        "ERR SKF_ConnectDev Error=0xe0300001\r\n" + Prefix(exe.c_str()) + "Hex OEMINFO:\t0AFF3C\r\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST_F(LogTest, HexRejectsBadArgumentsWithoutWriting) {
    std::string big(4096, 'x');
    EXPECT_EQ(1, LogHex(nullptr, 3, "OEMINFO:"));
    EXPECT_EQ(1, LogHex("abc", 0, "OEMINFO:"));
    EXPECT_EQ(1, LogHex(big.data(), 4096, "OEMINFO:"));
    EXPECT_EQ(1, LogHex(big.data(), -1, "OEMINFO:"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(LogPath().c_str()));
    EXPECT_EQ(0, LogHex(big.data(), 4095, "OEMINFO:"));
    std::string line = LogLines().at(0);
    EXPECT_EQ(std::string(4095, 'x').size() * 2, line.size() - line.find('\t') - 1);
}

TEST_F(LogTest, TracerWritesEnterAndLeaveWithElapsedTime) {
    {
        FuncTracer t("HandleCertTool");
        Sleep(30);
    }
    std::string exe = "log_test\\.exe";
    std::regex expected(Prefix(exe.c_str()) + R"(FUNC -> HandleCertTool\(\)\r\n)" + Prefix(exe.c_str()) +
                        R"(FUNC <- HandleCertTool\(\),use time:(\d+\.\d{6})s\r\n\r\n)");
    std::smatch m;
    std::string log = ReadLog();
    ASSERT_TRUE(std::regex_match(log, m, expected)) << log;
    double secs = std::stod(m[1]);
    EXPECT_GE(secs, 0.02);
    EXPECT_LT(secs, 2.0);
}

TEST_F(LogTest, TracerWithoutNameUsesPlaceholder) {
    { FuncTracer t(""); }
    { FuncTracer t(nullptr); }
    EXPECT_EQ(4u, LogCount("Function_Name_Not_Define()"));
}

TEST_F(LogTest, TracerLeftByExceptionStillWritesLeaveLine) {
    try {
        FuncTracer t("Throws");
        throw std::runtime_error("boom");
    } catch (const std::exception&) {
    }
    EXPECT_TRUE(LogHas("FUNC <- Throws(),use time:"));
}

TEST_F(LogTest, TracerCreatedBeforeFolderAppearsWritesWellFormedLeave) {
    DisableLog();
    {
        FuncTracer t("LateFolder");
        EnableLog();
    }
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(2u, lines.size());  // leave line, then the empty line
    EXPECT_NE(std::string::npos, lines[0].find("FUNC <- LateFolder(),use time:"));
    EXPECT_EQ("", lines[1]);
}

TEST_F(LogTest, OnlyLeaveLinesAreFollowedByAnEmptyLine) {
    LogInfo("a");
    { FuncTracer t("T"); }
    LogError("b");
    LogHex("\x01", 1, "c");
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(6u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("INF a"));
    EXPECT_NE(std::string::npos, lines[1].find("FUNC -> T()"));
    EXPECT_NE(std::string::npos, lines[2].find("FUNC <- T()"));
    EXPECT_EQ("", lines[3]);
    EXPECT_NE(std::string::npos, lines[4].find("ERR b"));
    EXPECT_NE(std::string::npos, lines[5].find("Hex c\t01"));
}

TEST_F(LogTest, UnknownCallerFallback) {
    qlog::SetModuleNameFailsForTest(true);
    LogInfo("m");
    { FuncTracer t("T"); }
    std::string log = ReadLog();
    EXPECT_NE(std::string::npos, log.find("][UnknownCaller ] INF m\r\n"));
    EXPECT_NE(std::string::npos, log.find("][UnknownCaller] FUNC -> T()\r\n"));
    EXPECT_NE(std::string::npos, log.find("][UnknownCaller] FUNC <- T(),use time:"));
}

TEST_F(LogTest, OverlongMessagesAreCutInsideTheBuffers) {
    std::string huge(20000, 'm');
    ASSERT_EQ(0, LogInfo("%s", huge.c_str()));
    std::string name(3000, 'n');
    { FuncTracer t(name.c_str()); }
    std::string log = ReadLog();
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(4u, lines.size());
    EXPECT_LE(lines[0].size() + 2, 10240u);
    EXPECT_GT(lines[0].size(), 10000u);
    EXPECT_LE(lines[1].size() + 2, 2048u);
    EXPECT_NE(std::string::npos, lines[1].find("()"));
    EXPECT_LE(lines[2].size() + 4, 1024u);
    EXPECT_NE(std::string::npos, lines[2].find("(),use time:"));
    EXPECT_EQ("", lines[3]);
}
