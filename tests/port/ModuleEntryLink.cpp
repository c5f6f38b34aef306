// The tests of this program run the module through the framework (SimTest::Run finds the tests that the
// module's entry source, tarnserialport, registers during static initialisation), but none of them calls
// that source or the scripted host (tests/support/TestHost.cpp) by name. Both sit in the static library
// tarn_test_support, which is linked before the libraries that need them (kivu5's start() needs HostStart,
// SerialPortTest needs the test handles), so the linker would leave them out. These references keep them in.
#include "support/TestHost.h"
#include "tarnserialport.h"

#include <functional>

struct CPortProgramLinkAnchors {
    kivu5::TestResult (*moduleEntry)(const kivu5::DiagDevice&);
    void (*scriptedHost)(std::function<int()>);
};

extern const CPortProgramLinkAnchors g_PortProgramLinkAnchors;
const CPortProgramLinkAnchors g_PortProgramLinkAnchors = {&InternalRegisterTest,
                                                          &tarntest::SetStartBehaviour};
