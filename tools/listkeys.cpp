// Console driver: loads the token library through the program's binding and
// prints each present key's label, serial number and user-PIN retry counts.
// A developer's tool (the demo runs it), so its output is not translated.
#include "token/textconv.h"
#include "token/tokenlib.h"

#include <cstdio>
#include <cstring>

namespace {

void PrintKey(const char* name) {
    printf("%s\n", name);
    DEVHANDLE dev = nullptr;
    ULONG rv = TokConnectDev(name, &dev);
    if (rv != 0) {
        printf("  connect failed: 0x%08lx\n", rv);
        return;
    }
    DEVINFO info;
    memset(&info, 0, sizeof info);
    rv = TokGetDevInfo(dev, &info);
    if (rv == 0) {
        // Neither field needs a terminator inside its 32 bytes.
        printf("  label: %.32s\n  serial: %.32s\n", info.Label, info.SerialNumber);
    } else {
        printf("  device info failed: 0x%08lx\n", rv);
    }
    char apps[1024] = {};
    ULONG size = sizeof apps;
    rv = TokEnumApplication(dev, apps, &size);
    if (rv == 0 && apps[0] != 0) {
        HAPPLICATION app = nullptr;
        rv = TokOpenApplication(dev, apps, &app);
        if (rv == 0) {
            ULONG maxRetry = 0, remain = 0;
            rv = TokGetPINInfo(app, SKF_USER_PIN, &maxRetry, &remain, nullptr);
            if (rv == 0) printf("  user PIN retries: %lu/%lu\n", remain, maxRetry);
            TokCloseApplication(app);
        }
    }
    if (rv != 0) printf("  PIN info failed: 0x%08lx\n", rv);
    TokDisConnectDev(dev);
}

} // namespace

int main() {
    wchar_t list[2048] = {};
    ULONG size = 2048;
    ULONG rv = EnumPresentKeys(&size, list);
    if (rv != 0) {
        printf("no key list (EnumPresentKeys=%lu)\n", rv);
        return 1;
    }
    int count = 0;
    for (size_t pos = 0; pos < size && list[pos] != 0; ++count) {
        size_t len = wcsnlen(list + pos, size - pos);
        char name[1024] = {};
        int bytes = 0;
        WideToAnsi(list + pos, static_cast<int>(len), name, sizeof name, &bytes);
        PrintKey(name);
        pos += len + 1;
    }
    printf("%d key(s) present\n", count);
    return 0;
}
