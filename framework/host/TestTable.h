// The module's test IDs by test name: the one place the host keeps them, for the JSON report and
// --list-tests. The framework itself only knows names.
#pragma once

#include <string>

namespace tarnhost {

// The ID of the test of this name, 0 for a name the table does not know.
int TestId(const std::string& testName);

} // namespace tarnhost
