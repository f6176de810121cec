// The process-wide checker. Kept apart so that only programs that use it
// create its named mutex.
#include "app/instance.h"

namespace {
CInstanceChecker g_instanceChecker(kInstanceCheckerName);
}

CInstanceChecker& TheInstanceChecker() { return g_instanceChecker; }
