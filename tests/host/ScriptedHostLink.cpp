// The framework in this test program starts the scripted host of tests/support (its kivu5::HostStart), but
// nothing else here calls into that file, so a static link would leave it out. Naming it keeps it in.
#include "support/TestHost.h"

#include <gtest/gtest.h>

TEST(TestProgram, LinksTheScriptedHost) {
    tarntest::SetStartBehaviour(nullptr);
    SUCCEED();
}
