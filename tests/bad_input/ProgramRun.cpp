#include "ProgramRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace badinput {

namespace fs = std::filesystem;

void RemoveRunDir(const fs::path& dir) {
    std::error_code error;
    fs::remove_all(dir, error);
    fs::remove(dir.parent_path(), error); // the process's own parent, once empty
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

Outcome RunIn(const fs::path& dir, const std::vector<std::string>& args) {
    Outcome outcome;
    if (std::find(args.begin(), args.end(), "--sim") == args.end()) {
        ADD_FAILURE() << "refusing to run the program without --sim";
        return outcome;
    }
    fs::path outPath = dir.parent_path() / (dir.filename().string() + ".stdout");
    fs::path errPath = dir.parent_path() / (dir.filename().string() + ".stderr");
    std::vector<std::string> all{TARN_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    // fork and exec rather than posix_spawn: the program must run in dir, where the case's relative paths
    // point.
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        execv(TARN_PROGRAM, argv.data());
        _exit(127);
    }
    if (pid < 0) {
        ADD_FAILURE() << "cannot fork";
        return outcome;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadText(outPath);
    outcome.err = ReadText(errPath);
    std::error_code error;
    fs::remove(outPath, error);
    fs::remove(errPath, error);
    return outcome;
}

} // namespace badinput
