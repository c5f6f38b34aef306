// Part 2.1: the module's entry, its test registration and the five test entry functions.
#pragma once

#include "kivu5/kivu5.h"

void AddTestParameters();

kivu5::TestResult InternalControlSignalsTest(const kivu5::DiagDevice& device);
kivu5::TestResult InternalRegisterTest(const kivu5::DiagDevice& device);
kivu5::TestResult InternalSendAndReceiveTest(const kivu5::DiagDevice& device);
kivu5::TestResult ExternalLoopbackTest(const kivu5::DiagDevice& device);
kivu5::TestResult ExternalRegisterTest(const kivu5::DiagDevice& device);
