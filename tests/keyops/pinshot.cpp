// Helper for screenshots and manual runs: puts one key (by device path) into
// the device list and runs the program's own PIN operation on it, so that the
// PIN-dialog stand-in comes up exactly as it does inside the program.
// Usage: pinshot.exe verify|rename|change <device path>; prints the result.
#include "token/devlist.h"
#include "token/keyops.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: pinshot verify|rename|change <device path>\n");
        return 2;
    }
    std::string op = argv[1];
    InitDevListLock();
    {
        auto record = std::make_unique<DevRecord>();
        MultiByteToWideChar(CP_ACP, 0, argv[2], -1, record->devPath, 255);
        DevListGuard lock;
        DevListStorage().push_back(std::move(record));
    }
    ULONG rv = op == "change" ? ChangeKeyPin(nullptr, 0)
                              : VerifyKeyPin(0, nullptr, op == "rename" ? kPinModeBeforeRename : kPinModeVerify);
    printf("%s: 0x%08x\n", op.c_str(), static_cast<unsigned>(rv));
    {
        DevListGuard lock;
        DevListStorage().clear();
    }
    DeleteDevListLock();
    return 0;
}
