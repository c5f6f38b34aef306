#include "ProgramRun.h"

#include <system_error>

namespace badinput {

namespace fs = std::filesystem;

void RemoveRunDir(const fs::path& dir) {
    std::error_code error;
    fs::remove_all(dir, error);
    fs::remove(dir.parent_path(), error); // the process's own parent, once empty
}

std::string ReadText(const fs::path& path) {
    return tarntest::ReadWholeFile(path.string());
}

Outcome RunIn(const fs::path& dir, const std::vector<std::string>& args) {
    fs::path outPath = dir.parent_path() / (dir.filename().string() + ".stdout");
    fs::path errPath = dir.parent_path() / (dir.filename().string() + ".stderr");
    Outcome outcome = tarntest::RunChildProgram(args, dir.string(), outPath.string(), errPath.string());
    std::error_code error;
    fs::remove(outPath, error);
    fs::remove(errPath, error);
    return outcome;
}

} // namespace badinput
