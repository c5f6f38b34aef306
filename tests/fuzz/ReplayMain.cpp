// tarn_fuzz_replay FOLDER...: every file of each folder through the body the folder is named after
// (corpus/scenario, regressions/scenario, ...): the seeds and every input that once found a bug, with any
// compiler and sanitizer, as a test of the suite. Exit status 1 when a property broke.
#include "FuzzTargets.h"
#include "kivu5/Framework.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

int kivu5::HostStart() { // the framework's start belongs to the console program, which is not linked here
    return 0;
}

int main(int argc, char** argv) {
    int inputs = 0;
    int broken = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path folder(argv[i]);
        const tarnfuzz::Target* target = tarnfuzz::FindTarget(folder.filename().string());
        if (target == nullptr) {
            std::fprintf(stderr, "%s: no fuzz target of that name\n", argv[i]);
            return 2;
        }
        for (const auto& file : std::filesystem::directory_iterator(folder)) {
            std::ifstream in(file.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            const std::string problem =
                target->body(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++inputs;
            if (!problem.empty()) {
                ++broken;
                std::printf("%s: %s\n", file.path().c_str(), problem.c_str());
            }
        }
    }
    std::printf("%d inputs, %d broke a property\n", inputs, broken);
    return broken == 0 ? 0 : 1;
}
