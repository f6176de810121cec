// Prints the entries of a current-user store as a fresh process sees them:
// certstore_dump.exe STORE OUTFILE. Tests use it to check that a change was
// persisted, not only held by the store handle that made it.
#include "tests/certs/storecheck.h"
#include "tests/support/testenv.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::string dump = storecheck::Dump(testenv::Widen(argv[1]).c_str());
    if (dump == "open-failed\n") return 3;
    return testenv::WriteFileBytes(testenv::Widen(argv[2]), dump) ? 0 : 4;
}
