// libFuzzer target "setvalue": tarnhost::ParseParameterValue, the value of --set PARAM=VALUE
// (framework/host/ParameterText.h). The body and its properties are in FuzzTargets.h; a broken property
// aborts with its description.
#include "FuzzTargets.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = tarnfuzz::FuzzSetValue(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz target setvalue: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
