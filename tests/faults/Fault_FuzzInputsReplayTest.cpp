// The fuzz targets' inputs replayed through the same bodies (tests/fuzz/FuzzTargets.h) with the project's
// own compiler and, under the asan preset, its sanitizers: every seed of tests/fuzz/corpus/<target>/ and
// every crash input saved in tests/fuzz/regressions/<target>/ (each a regression test of a bug the fuzzer
// found; see docs/reliability.md). The libFuzzer programs themselves build only with clang (tests/fuzz/).
#include "fuzz/FuzzTargets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace tarnfuzz {
// The target's name in test names and messages.
inline void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}
} // namespace tarnfuzz

namespace {

namespace fs = std::filesystem;

#ifdef TARN_SOURCE_DIR
const fs::path FUZZ_DIR = fs::path(TARN_SOURCE_DIR) / "tests" / "fuzz";
#else
const fs::path FUZZ_DIR;
#endif

std::vector<fs::path> InputsOf(const fs::path& folder) {
    std::vector<fs::path> files;
    if (fs::is_directory(folder)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs every input of the folder through the target's body; returns how many ran.
size_t Replay(const tarnfuzz::Target& target, const fs::path& folder) {
    size_t count = 0;
    for (const fs::path& file : InputsOf(folder)) {
        const std::string bytes = Bytes(file);
        std::string problem;
        try {
            problem = target.body(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const std::exception& e) {
            problem = std::string("exception left the body: ") + e.what();
        } catch (...) {
            problem = "a non-standard exception left the body";
        }
        EXPECT_EQ(problem, "") << target.name << ": " << file.string();
        ++count;
    }
    return count;
}

class Fault_FuzzInputsReplay : public ::testing::TestWithParam<tarnfuzz::Target> {
protected:
    void SetUp() override {
        if (!fs::is_directory(FUZZ_DIR / "corpus")) {
            GTEST_SKIP() << "the source tree's tests/fuzz/ is not reachable from this program";
        }
    }
};

TEST_P(Fault_FuzzInputsReplay, EverySeedOfTheCommittedCorpusKeepsEveryProperty) {
    EXPECT_GE(Replay(GetParam(), FUZZ_DIR / "corpus" / GetParam().name), 3u) << "a handful of seeds each";
}

TEST_P(Fault_FuzzInputsReplay, EverySavedCrashInputKeepsEveryProperty) {
    Replay(GetParam(), FUZZ_DIR / "regressions" / GetParam().name);
}

std::string TargetName(const ::testing::TestParamInfo<tarnfuzz::Target>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, Fault_FuzzInputsReplay, ::testing::ValuesIn(tarnfuzz::Targets()),
                         TargetName);

} // namespace

// The bugs the fuzzer found, each as a readable case (their fuzzer inputs are in tests/fuzz/regressions/).
namespace {

std::string RefusalOf(const std::function<void()>& parse) {
    try {
        parse();
    } catch (const tarnhost::CHostInputError& e) {
        return e.Line();
    } catch (const std::exception& e) {
        return std::string("not the host's bad-input error: ") + e.what();
    }
    return "accepted";
}

// formats.md section 1: bad input in a scenario or settings file is exit 2 with one line naming it. A JSON
// number beyond the range of a double made nlohmann's parser throw out_of_range (406), which
// ParseStrictJson (framework/host/JsonStrict.cpp) does not turn into CHostInputError: the program aborted
// (exit 134, "terminate called after throwing ...").
TEST(Fault_FuzzRegressions, AScenarioNumberBeyondTheRangeOfADoubleIsBadInputNotAnAbort) {
    std::string line = RefusalOf([] {
        tarnhost::ParseScenario(R"({"ports":[{"com":1,"io":[1016],"os":{"baud":1e400}}]})", "s.json");
    });
    EXPECT_EQ(line.rfind("tarnserialport: s.json: ", 0), 0u) << line;
}

TEST(Fault_FuzzRegressions, ASettingsNumberBeyondTheRangeOfADoubleIsBadInputNotAnAbort) {
    std::string line = RefusalOf([] {
        tarnhost::ParseSettings(R"({"parameters":{"BaudRates":[9600,1e999]}})", "s.json",
                                tarnfuzz::ModuleCatalogue());
    });
    EXPECT_EQ(line.rfind("tarnserialport: s.json: ", 0), 0u) << line;
}

// DEVELOPERS.md: bad input gets a one-line error. A newline inside the offending text (a JSON key written
// with \n, a --set value given with one) was copied into the message as it is, giving two lines.
TEST(Fault_FuzzRegressions, AnUnknownScenarioKeyWithANewlineGivesAOneLineError) {
    std::string line = RefusalOf([] { tarnhost::ParseScenario(R"({"ports":[],"x\ny":1})", "s.json"); });
    EXPECT_EQ(line.rfind("tarnserialport: s.json: ", 0), 0u) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
}

TEST(Fault_FuzzRegressions, AnUnknownTestInTheSettingsWithANewlineGivesAOneLineError) {
    std::string line = RefusalOf([] {
        tarnhost::ParseSettings(R"({"answers":{"Ext\nLoop":"ok"}})", "s.json", tarnfuzz::ModuleCatalogue());
    });
    EXPECT_EQ(line.rfind("tarnserialport: s.json: ", 0), 0u) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
}

TEST(Fault_FuzzRegressions, ASetValueWithANewlineGivesAOneLineError) {
    for (const std::pair<kivu5::DataType::Kind, const char*>& value :
         std::vector<std::pair<kivu5::DataType::Kind, const char*>>{
             {kivu5::DataType::Boolean, "tr\nue"}, {kivu5::DataType::Uint32Array, "9600,4\n"}}) {
        std::string line =
            RefusalOf([&value] { tarnhost::ParseParameterValue(value.first, value.second, "--set Param"); });
        EXPECT_EQ(line.rfind("tarnserialport: --set Param: ", 0), 0u) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
}

} // namespace
