// Test entry point: every test process gets a temporary folder of its own, so
// log files and key folders of parallel test cases never meet.
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void UsePrivateTempDir() {
    char base[MAX_PATH + 1] = {};
    GetTempPathA(sizeof base, base);
    std::string dir = std::string(base) + "qt-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(GetTickCount());
    testenv::RemoveTree(testenv::Widen(dir));
    CreateDirectoryA(dir.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", dir.c_str());
    SetEnvironmentVariableA("TEMP", dir.c_str());
}

} // namespace

int main(int argc, char** argv) {
    UsePrivateTempDir();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
