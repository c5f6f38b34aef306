#include "ChildProgram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarntest {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

ChildOutcome RunChildProgram(const std::vector<std::string>& args, const std::string& dir,
                             const std::string& outPath, const std::string& errPath) {
    ChildOutcome outcome;
    if (std::find(args.begin(), args.end(), "--sim") == args.end()) {
        ADD_FAILURE() << "refusing to run the program without --sim";
        return outcome;
    }
    std::vector<std::string> all{TARN_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    // fork and exec rather than posix_spawn: the child may have to run in dir, where a case's relative
    // paths point.
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            (!dir.empty() && chdir(dir.c_str()) != 0)) {
            _exit(127);
        }
        execv(TARN_PROGRAM, argv.data());
        _exit(127);
    }
    if (pid < 0) {
        ADD_FAILURE() << "cannot start " << TARN_PROGRAM;
        return outcome;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadWholeFile(outPath);
    outcome.err = ReadWholeFile(errPath);
    return outcome;
}

} // namespace tarntest
