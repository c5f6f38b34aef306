// The module's entry: main, the callback that attaches parameters to tests, and the five test entry
// functions that the diagnostic framework calls with one device each.
#pragma once

#include "kivu5/kivu5.h"

void AddTestParameters();

kivu5::TestResult InternalControlSignalsTest(const kivu5::DiagDevice& device);
kivu5::TestResult InternalRegisterTest(const kivu5::DiagDevice& device);
kivu5::TestResult InternalSendAndReceiveTest(const kivu5::DiagDevice& device);
kivu5::TestResult ExternalLoopbackTest(const kivu5::DiagDevice& device);
kivu5::TestResult ExternalRegisterTest(const kivu5::DiagDevice& device);
