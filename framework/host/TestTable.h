// The module's test IDs by test name: the one place the host keeps them, for the reports, --list-tests,
// the pictures of the HTML page and the restore. The framework itself only knows names.
#pragma once

#include <string>
#include <vector>

namespace tarnhost {

// The IDs under which the module registers its five tests. The internal tests (1 to 3) drive the UART's
// registers; the send-and-receive test also sets the COM port through the OS, as the external tests (4
// and 5) do.
const int CONTROL_SIGNALS_TEST_ID = 1;
const int INTERNAL_REGISTER_TEST_ID = 2;
const int SEND_AND_RECEIVE_TEST_ID = 3;
const int LOOPBACK_TEST_ID = 4;
const int EXTERNAL_REGISTER_TEST_ID = 5;

// The five test names in ID order: the test of ID n is TestNames()[n - 1].
const std::vector<const char*>& TestNames();

// The ID of the test of this name, 0 for a name the table does not know.
int TestId(const std::string& testName);

} // namespace tarnhost
