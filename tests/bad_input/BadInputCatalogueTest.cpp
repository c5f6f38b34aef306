// The bad-input catalogue: every folder of tests/bad_input/cases/ is one malformed command line, settings
// file or scenario file, run through the built program (TARN_PROGRAM) as a user would. Each must give
// exactly its one expected line on standard error and its exit status (2), and run nothing: nothing on
// standard output (no "started" line), no file written (no report), the folder as it was.
//
// A case folder holds:
//   args             the arguments, one per line, exactly (paths are relative to the case folder, where the
//                    program runs); a line "@<FILE" is the content of FILE, for arguments too long or too
//                    odd for a line. Every case has --sim: this machine's own serial port is its console.
//   expected-stderr  the exact standard error;
//   expected-exit    the exit status;
//   generate         optional: inputs made at test time, too big for the source tree; each line a JSON
//                    array [FILE, PREFIX, UNIT, COUNT, SUFFIX]: FILE = PREFIX, COUNT times UNIT, SUFFIX;
//   any input files the arguments name.
#include "ProgramRun.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace badinput {
namespace {

namespace fs = std::filesystem;

fs::path CasesDir() {
    return fs::path(TARN_SOURCE_DIR) / "tests" / "bad_input" / "cases";
}

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(CasesDir(), error)) {
        if (entry.is_directory()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The case folder copied to a fresh directory, with its generated inputs: the program runs there.
fs::path PrepareRunDir(const std::string& name) {
    fs::path dir = fs::path(::testing::TempDir()) / ("tarn-bad-input-" + std::to_string(getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir.parent_path());
    fs::copy(CasesDir() / name, dir, fs::copy_options::recursive);
    std::ifstream generate(dir / "generate");
    std::string line;
    while (std::getline(generate, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        nlohmann::json spec = nlohmann::json::parse(line);
        std::string text = spec.at(1).get<std::string>();
        std::string unit = spec.at(2).get<std::string>();
        size_t count = spec.at(3).get<size_t>();
        text.reserve(text.size() + unit.size() * count + 64);
        for (size_t i = 0; i < count; ++i) {
            text += unit;
        }
        text += spec.at(4).get<std::string>();
        std::ofstream(dir / spec.at(0).get<std::string>(), std::ios::binary) << text;
    }
    return dir;
}

std::vector<std::string> ReadArgs(const fs::path& dir) {
    std::vector<std::string> args;
    std::istringstream lines(ReadText(dir / "args"));
    std::string line;
    while (std::getline(lines, line)) {
        args.push_back(line.rfind("@<", 0) == 0 ? ReadText(dir / line.substr(2)) : line);
    }
    return args;
}

// Every file below dir with its size: what the run must leave as it found it.
std::map<std::string, uintmax_t> Listing(const fs::path& dir) {
    std::map<std::string, uintmax_t> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
        files[fs::relative(entry.path(), dir).string()] = entry.is_regular_file() ? entry.file_size() : 0;
    }
    return files;
}

class BadInput : public ::testing::TestWithParam<std::string> {};

TEST_P(BadInput, GivesItsOneLineAndExitStatusAndRunsNothing) {
    fs::path dir = PrepareRunDir(GetParam());
    std::vector<std::string> args = ReadArgs(dir);
    ASSERT_NE(std::find(args.begin(), args.end(), "--sim"), args.end())
        << "every case runs with --sim: this machine's own serial port is never touched";
    std::string expectedErr = ReadText(dir / "expected-stderr");
    int expectedExit = std::stoi(ReadText(dir / "expected-exit"));
    std::map<std::string, uintmax_t> before = Listing(dir);

    Outcome outcome = RunIn(dir, args);

    EXPECT_EQ(outcome.exitStatus, expectedExit);
    EXPECT_EQ(outcome.err, expectedErr);
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << "one line";
    EXPECT_EQ(outcome.out, "") << "nothing run: no \"started\" line, no report on standard output";
    EXPECT_EQ(Listing(dir), before) << "nothing written: no report, no log file";
    RemoveRunDir(dir);
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, BadInput, ::testing::ValuesIn(CaseNames()), TestName);

TEST(BadInputCatalogue, HasAtLeastFortyCases) {
    EXPECT_GE(CaseNames().size(), 40u);
}

} // namespace
} // namespace badinput
