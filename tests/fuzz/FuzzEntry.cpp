// The libFuzzer programs tarn_fuzz_<target>: each runs the body its name gives (FuzzTargets.h); a broken
// property aborts with its description, so that libFuzzer keeps the input.
#include "FuzzTargets.h"
#include "kivu5/Framework.h"

#include <cstdio>
#include <cstdlib>

int kivu5::HostStart() { // the framework's start belongs to the console program, which is not linked here
    return 0;
}

namespace {
const tarnfuzz::Target* g_Target = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** argv) {
    const std::string program = (*argv)[0];
    g_Target = tarnfuzz::FindTarget(program.substr(program.rfind("tarn_fuzz_") + std::strlen("tarn_fuzz_")));
    if (g_Target == nullptr) {
        std::fprintf(stderr, "%s: no fuzz target of that name\n", program.c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = g_Target->body(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fuzz target %s: %s\n", g_Target->name, problem.c_str());
        std::abort();
    }
    return 0;
}
