#include "host/TestTable.h"

namespace tarnhost {

const std::vector<const char*>& TestNames() {
    static const std::vector<const char*> NAMES = {"InternalControlSignalsTest", "InternalRegisterTest",
                                                   "InternalSendAndReceiveTest", "ExternalLoopbackTest",
                                                   "ExternalRegisterTest"};
    return NAMES;
}

int TestId(const std::string& testName) {
    const std::vector<const char*>& names = TestNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (testName == names[i]) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

} // namespace tarnhost
