// Before any test of this program runs, and whatever a single test forgets: the real backends point at
// nothing real. No COM number falls back to /dev/ttyS* (ttyS0 here is the console), the I/O-port file is
// never /dev/port, the I/O-port guard grants nothing, and the backend's ioperm is one that refuses.
#include "os/IoPortGuard.h"
#include "os/backends/posix/ComPortMap.h"
#include "os/backends/posix/DevPortPath.h"

#include <gtest/gtest.h>

namespace {

int RefuseIoperm(unsigned long, unsigned long, int) {
    return -1;
}

class CGuardSafetyEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        tarnos::posix::SetIopermCall(RefuseIoperm);
        tarnos::posix::SetDefaultComMapping(false);
        tarnos::posix::ClearComPortMap();
        tarnos::posix::SetDevPortPath("/nonexistent/tarn-tests/no-dev-port");
        tarnos::RealPortIoGuard().Reset();
    }
};

const ::testing::Environment* const g_SafetyEnvironment =
    ::testing::AddGlobalTestEnvironment(new CGuardSafetyEnvironment);

} // namespace
