#include "support/TestHost.h"

#include "kivu5/Framework.h"

#include <vector>

int TarnSerialPortMain(int argc, char** argv); // the module's main (Part 2.1), renamed for the tests

namespace tarntest {
namespace {
std::function<int()>& Behaviour() {
    static std::function<int()> behaviour;
    return behaviour;
}
} // namespace

void SetStartBehaviour(std::function<int()> behaviour) {
    Behaviour() = std::move(behaviour);
}

int CallModuleMain(std::initializer_list<const char*> args) {
    std::vector<char*> argv;
    for (const char* a : args) {
        argv.push_back(const_cast<char*>(a));
    }
    argv.push_back(nullptr);
    return TarnSerialPortMain(static_cast<int>(args.size()), argv.data());
}

} // namespace tarntest

namespace kivu5 {
int HostStart() {
    Framework::runModuleInit();
    return tarntest::Behaviour() ? tarntest::Behaviour()() : 0;
}
} // namespace kivu5
