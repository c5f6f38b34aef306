// The framework host of the test programs: what DiagModule::start() does there is up to each test.
#pragma once

#include <functional>

namespace tarntest {

// start() runs this (by default it returns 0). It may throw, to test main's exception path.
void SetStartBehaviour(std::function<int()> behaviour);

// Calls the module's main (renamed TarnSerialPortMain in the test build) with these arguments.
int CallModuleMain(std::initializer_list<const char*> args);

} // namespace tarntest
