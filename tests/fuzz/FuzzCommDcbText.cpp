// libFuzzer target "commdcb": tarnos::ParseCommDcbText, the BuildCommDCBW frame-text parser
// (framework/os/CommDcbText.h). The body and its properties are in FuzzTargets.h; a broken property aborts
// with its description.
#include "FuzzTargets.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = tarnfuzz::FuzzCommDcbText(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz target commdcb: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
