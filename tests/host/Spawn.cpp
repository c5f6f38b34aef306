#include "Spawn.h"

#include <cstdlib>
#include <fstream>
#include <vector>

#include <unistd.h>

namespace tarnhosttest {

std::string TempPath(const std::string& name) {
    static std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarn_host_test_XXXXXX";
        std::vector<char> text(pattern.begin(), pattern.end());
        text.push_back('\0');
        const char* made = mkdtemp(text.data());
        return std::string(made ? made : "/tmp");
    }();
    return dir + "/" + name;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

std::string ReadFile(const std::string& path) {
    return tarntest::ReadWholeFile(path);
}

std::string ExamplePath(const std::string& name) {
    return std::string(TARN_SOURCE_DIR) + "/examples/" + name;
}

ProgramResult RunProgram(const std::vector<std::string>& args) {
    static int counter = 0;
    ++counter;
    return tarntest::RunChildProgram(args, "", TempPath("out" + std::to_string(counter) + ".txt"),
                                     TempPath("err" + std::to_string(counter) + ".txt"));
}

} // namespace tarnhosttest
