// Before any test runs, and whatever a single test forgets: the backends point at nothing real.
#include "PosixTestSafety.h"

#include <gtest/gtest.h>

namespace {

class CPosixSafetyEnvironment : public ::testing::Environment {
public:
    void SetUp() override { backendtests::MakePosixBackendsSafe(); }
};

// Registered at static initialisation, so it holds for every test of the program (gtest_main's main).
const ::testing::Environment* const g_SafetyEnvironment =
    ::testing::AddGlobalTestEnvironment(new CPosixSafetyEnvironment);

} // namespace
