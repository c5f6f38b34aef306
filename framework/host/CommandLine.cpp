#include "host/CommandLine.h"

#include "host/HostError.h"
#include "os/IoWindow.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>

namespace tarnhost {
namespace {

// Every valued option collects all its occurrences, so that a repeated single option gets our own
// message rather than CLI11's.
CLI::Option* Valued(CLI::App& app, const std::string& name, std::vector<std::string>& values) {
    return app.add_option(name, values)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

std::optional<std::string> Single(const std::string& name, const std::vector<std::string>& values) {
    if (values.size() > 1) {
        throw CHostInputError(name, "given more than once");
    }
    return values.empty() ? std::nullopt : std::optional<std::string>(values.front());
}

int ParseLogPriority(const std::string& text) {
    // The module logs at priorities 1 to 4; 0 lets everything through, 5 silences every message.
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '5') {
        return text[0] - '0';
    }
    throw CHostInputError("--log-priority", QuotedValue(text) + " is not a priority from 0 to 5");
}

PromptAnswer ParseAnswer(const std::string& text) {
    if (text == "ok") {
        return PromptAnswer::Ok;
    }
    if (text == "cancel") {
        return PromptAnswer::Cancel;
    }
    throw CHostInputError("--answer", QuotedValue(text) + " is not ok or cancel");
}

std::pair<std::string, std::string> ParseSet(const std::string& text) {
    size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        throw CHostInputError("--set " + text, "expected PARAM=VALUE");
    }
    return {text.substr(0, equals), text.substr(equals + 1)};
}

// One --allow-io value: 0x and 1 or more hex digits, a window that can hold a UART (os/IoWindow.h).
uint32_t ParseAllowIo(const std::string& text) {
    // Hex only: I/O bases are written in hex everywhere (device managers, sysfs, data sheets), and a
    // decimal 760 for 0x2F8, or 0x760, would open the wrong window.
    bool valid = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    uint64_t value = 0;
    for (size_t i = 2; valid && i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        valid = std::isxdigit(c) != 0;
        unsigned digit = std::isdigit(c) ? static_cast<unsigned>(c - '0')
                                         : static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        value = std::min<uint64_t>(value * 16 + digit, 0x100000000ull); // saturates: no wrap-around
    }
    if (!valid) {
        throw CHostInputError("--allow-io", QuotedValue(text) +
                                                " is not an I/O base written in 0x hex (for example 0x2E8)");
    }
    if (value > 0xFFFF) {
        throw CHostInputError("--allow-io",
                              QuotedValue(text) + " is beyond the 16-bit I/O space (0x0000-0xFFFF)");
    }
    std::string forbidden = tarnos::ForbiddenWindowReason(static_cast<uint32_t>(value));
    if (!forbidden.empty()) {
        throw CHostInputError("--allow-io", forbidden);
    }
    return static_cast<uint32_t>(value);
}

// --tag KEY=VALUE: a key a factory system can file (letters, digits, "_", "-", "."), any value.
std::pair<std::string, std::string> ParseTag(const std::string& text) {
    size_t equals = text.find('=');
    std::string key = text.substr(0, equals);
    bool valid = equals != std::string::npos && !key.empty() &&
                 std::all_of(key.begin(), key.end(), [](unsigned char c) {
                     return std::isalnum(c) != 0 || c == '_' || c == '-' || c == '.';
                 });
    if (!valid) {
        throw CHostInputError("--tag " + text, "expected KEY=VALUE, the KEY of letters, digits, _ - and .");
    }
    if (key == "simulated") {
        throw CHostInputError("--tag " + text, "simulated is the reports' own property");
    }
    return {key, text.substr(equals + 1)};
}

// A whole number from 1 to limit, or 0 when text is not one.
unsigned long PositiveNumber(const std::string& text, unsigned long limit) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return 0;
    }
    unsigned long value = std::stoul(text);
    return value <= limit ? value : 0;
}

unsigned ParseRepeat(const std::string& text) {
    unsigned long passes = PositiveNumber(text, MOST_PASSES);
    if (passes == 0) {
        throw CHostInputError("--repeat", QuotedValue(text) + " is not a number of passes from 1 to " +
                                              std::to_string(MOST_PASSES));
    }
    return static_cast<unsigned>(passes);
}

// --for DURATION: a whole number and its unit, "90s", "15m", "2h"; at most a week.
unsigned ParseDuration(const std::string& text) {
    const unsigned long WEEK = 7 * 24 * 3600;
    unsigned long unit = text.empty()         ? 0
                         : text.back() == 's' ? 1
                         : text.back() == 'm' ? 60
                         : text.back() == 'h' ? 3600
                                              : 0;
    unsigned long count = unit == 0 ? 0 : PositiveNumber(text.substr(0, text.size() - 1), WEEK);
    if (count == 0 || count * unit > WEEK) {
        throw CHostInputError("--for", QuotedValue(text) +
                                           " is not a duration such as 90s, 15m or 2h (at most a week)");
    }
    return static_cast<unsigned>(count * unit);
}

} // namespace

HostOptions ParseCommandLine(const std::vector<std::string>& args) {
    CLI::App app("", "tarnserialport");
    app.set_help_flag();    // our own --help, with our own text (UsageText)
    app.allow_extras(true); // unknown arguments come back to us, for a message that names them

    HostOptions options;
    std::vector<std::string> tests, devices, sets, settings, answer, sim, report, junit, log, logPriority,
        allowIo, record, replay, tags, repeat, forDuration, html, fromReport;
    CLI::Option* help = app.add_flag("-h,--help");
    CLI::Option* version = app.add_flag("--version");
    CLI::Option* listTests = app.add_flag("--list-tests");
    CLI::Option* listDevices = app.add_flag("--list-devices");
    CLI::Option* noProgress = app.add_flag("--no-progress");
    CLI::Option* quiet = app.add_flag("-q,--quiet");
    CLI::Option* strict = app.add_flag("--strict");
    CLI::Option* json = app.add_flag("--json");
    CLI::Option* noRestore = app.add_flag("--no-restore");
    Valued(app, "--test", tests);
    Valued(app, "--device", devices);
    Valued(app, "--set", sets);
    Valued(app, "--settings", settings);
    Valued(app, "--answer", answer);
    Valued(app, "--report", report);
    Valued(app, "--junit", junit);
    Valued(app, "--log", log);
    Valued(app, "--log-priority", logPriority);
    Valued(app, "--allow-io", allowIo);
    Valued(app, "--record", record);
    Valued(app, "--replay", replay);
    Valued(app, "--tag", tags);
    Valued(app, "--repeat", repeat);
    Valued(app, "--for", forDuration);
    Valued(app, "--html", html);
    Valued(app, "--from-report", fromReport);
    // --sim takes its FILE only when one follows: "--sim --test X" is the built-in scenario.
    CLI::Option* simOption = app.add_option("--sim", sim)
                                 ->expected(0, 1)
                                 ->allow_extra_args(false)
                                 ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    // CLI11 wants the arguments last to first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        // "--report: 1 required TEXT missing": the option's name leads CLI11's message.
        std::string message = e.what();
        throw CHostInputError(message.substr(0, message.find(':')), "needs a value");
    } catch (const CLI::ParseError& e) {
        throw CHostInputError("command line", e.what());
    }
    for (const std::string& extra : app.remaining()) {
        if (extra.size() > 1 && extra[0] == '-') {
            throw CHostInputError(extra, "unknown option (see --help)");
        }
        throw CHostInputError(extra, "unexpected argument (see --help)");
    }

    options.help = help->count() > 0;
    options.version = version->count() > 0;
    options.listTests = listTests->count() > 0;
    options.listDevices = listDevices->count() > 0;
    options.noProgress = noProgress->count() > 0;
    options.quiet = quiet->count() > 0;
    options.strict = strict->count() > 0;
    options.json = json->count() > 0;
    options.noRestore = noRestore->count() > 0;
    if (options.json && (!options.listDevices || options.listTests)) {
        throw CHostInputError("--json", "goes with --list-devices alone");
    }
    for (const std::string& text : tags) {
        std::pair<std::string, std::string> tag = ParseTag(text);
        for (const auto& known : options.tags) {
            if (known.first == tag.first) {
                throw CHostInputError("--tag " + tag.first, "given more than once");
            }
        }
        options.tags.push_back(tag);
    }
    if (std::optional<std::string> text = Single("--repeat", repeat)) {
        options.repeat = ParseRepeat(*text);
    }
    if (std::optional<std::string> text = Single("--for", forDuration)) {
        options.forSeconds = ParseDuration(*text);
    }
    options.tests = tests;
    options.devices = devices;
    for (const std::string& text : sets) {
        options.sets.push_back(ParseSet(text));
    }
    options.settingsFile = Single("--settings", settings);
    if (std::optional<std::string> text = Single("--answer", answer)) {
        options.answer = ParseAnswer(*text);
    }
    if (simOption->count() > 1) {
        throw CHostInputError("--sim", "given more than once");
    }
    options.sim = simOption->count() == 1;
    options.scenarioFile = sim.empty() ? "" : sim.front();
    options.reportFile = Single("--report", report);
    options.junitFile = Single("--junit", junit);
    options.htmlFile = Single("--html", html);
    options.fromReport = Single("--from-report", fromReport);
    options.logFile = Single("--log", log);
    options.recordFile = Single("--record", record);
    options.replayFile = Single("--replay", replay);
    if (std::optional<std::string> text = Single("--log-priority", logPriority)) {
        options.logPriority = ParseLogPriority(*text);
        options.logPriorityGiven = true;
    }
    for (const auto& file :
         {std::make_pair("--report", &options.reportFile), std::make_pair("--junit", &options.junitFile),
          std::make_pair("--log", &options.logFile), std::make_pair("--record", &options.recordFile),
          std::make_pair("--replay", &options.replayFile), std::make_pair("--html", &options.htmlFile),
          std::make_pair("--from-report", &options.fromReport)}) {
        if (*file.second && (*file.second)->empty()) {
            throw CHostInputError(file.first, "needs a file name");
        }
    }
    if (options.recordFile == std::string("-")) {
        throw CHostInputError("--record",
                              "needs a file name, not - (standard output is for people and reports)");
    }
    if (options.reportFile == std::string("-") && options.junitFile == std::string("-")) {
        throw CHostInputError("--junit -", "standard output is already taken by --report -");
    }
    if (options.htmlFile == std::string("-") &&
        (options.reportFile == std::string("-") || options.junitFile == std::string("-"))) {
        throw CHostInputError("--html -",
                              std::string("standard output is already taken by ") +
                                  (options.reportFile == std::string("-") ? "--report -" : "--junit -"));
    }
    if (options.fromReport) {
        // A page of a stored report runs nothing: only the report's BaudRates list may be given again.
        if (!options.htmlFile) {
            throw CHostInputError("--from-report", "goes with --html FILE, the page to write");
        }
        for (const CLI::Option* option : app.get_options()) {
            std::string name = option->get_name();
            bool allowed =
                name == "--html" || name == "--from-report" || name == "--set" || name == "--settings";
            if (option->count() > 0 && !allowed) {
                throw CHostInputError("--from-report", "does not go with " + name +
                                                           ": the page comes from the report, nothing runs");
            }
        }
    }
    for (const std::string& text : allowIo) {
        uint32_t base = ParseAllowIo(text);
        if (std::find(options.allowIo.begin(), options.allowIo.end(), base) == options.allowIo.end()) {
            options.allowIo.push_back(base);
        }
    }
    if (options.replayFile) {
        // The session's choices and the machine's answers are the recording's: only where the outputs go
        // may differ. Even the log priority is the recording's: each line let through reads the clock.
        const std::pair<const char*, bool> fromRecording[] = {
            {"--sim", options.sim},
            {"--test", !options.tests.empty()},
            {"--device", !options.devices.empty()},
            {"--set", !options.sets.empty()},
            {"--settings", options.settingsFile.has_value()},
            {"--answer", options.answer.has_value()},
            {"--repeat", options.repeat > 0},
            {"--for", options.forSeconds > 0},
            {"--strict", options.strict},
            {"--log-priority", options.logPriorityGiven},
            {"--tag", !options.tags.empty()},
            {"--no-restore", options.noRestore},
            {"--allow-io", !allowIo.empty()},
            {"--record", options.recordFile.has_value()},
            {"--list-tests", options.listTests},
            {"--list-devices", options.listDevices}};
        for (const auto& option : fromRecording) {
            if (option.second) {
                throw CHostInputError(option.first,
                                      "does not go with --replay (the recording says what ran)");
            }
        }
    }
    if (options.sim && !options.allowIo.empty()) {
        // Refused rather than ignored: a simulated run would seem to prove a window that nothing checked.
        throw CHostInputError("--allow-io",
                              "has no effect with --sim (simulated hardware has no I/O-port guard)");
    }
    return options;
}

std::string UsageText() {
    return "Usage: tarnserialport [OPTIONS]\n"
           "\n"
           "Tests the serial (COM) ports of this PC: five tests, from \"does a UART answer at this I/O "
           "base\"\n"
           "to a 256-byte ramp through a loopback plug at every baud rate.\n"
           "\n"
           "Options:\n"
           "  -h, --help              this text\n"
           "  --version               the module's version\n"
           "  --list-tests            the tests: name, ID, required device properties, parameters\n"
           "  --list-devices          the serial devices found: name, ComPortNumber, IoBaseAddresses, OS "
           "device;\n"
           "                          then the ports left out, and why\n"
           "  --json                  with --list-devices: the same as one JSON object\n"
           "  --test NAME|ID          run this test; repeatable, in the order given (default: all five)\n"
           "  --device NAME           test this device: COM3 or com3, or on Linux its node (/dev/ttyS2);\n"
           "                          repeatable (default: every device found)\n"
           "  --set PARAM=VALUE       BaudRates=9600,0x1C200 (empty: the default list) or\n"
           "                          PromptUserForLoopBack=true|false; overrides --settings\n"
           "  --settings FILE         a JSON settings file: parameter values and preset prompt answers\n"
           "  --answer ok|cancel      answer every prompt this way without asking\n"
           "  --sim [FILE]            test simulated hardware described by the scenario FILE\n"
           "                          (without FILE: one healthy port with a loopback plug)\n"
           "  --repeat N              soak: run the selected tests N times over (each pass: every test\n"
           "                          on every device)\n"
           "  --for DURATION          soak: begin passes until DURATION of real time has gone (90s, 15m,\n"
           "                          2h); with --repeat, whichever ends first\n"
           "  --strict                only PASS is a pass: any other result exits non-zero\n"
           "  --report FILE           write the JSON report; - is standard output (human output then goes\n"
           "                          to standard error)\n"
           "  --junit FILE            write a JUnit XML report; - is standard output\n"
           "  --html FILE             write one self-contained HTML page of the session; - is standard "
           "output\n"
           "  --from-report REPORT    with --html: the page of a JSON report written earlier; nothing runs\n"
           "                          (--set and --settings may give the run's BaudRates again)\n"
           "  --tag KEY=VALUE         file the reports under this tag (station, serial number, ...);\n"
           "                          repeatable, each KEY once\n"
           "  --log FILE              where the logger writes (default: standard error)\n"
           "  --log-priority N        log messages of priority N and above, 0 to 5 (default 3)\n"
           "  --no-progress           no progress line, plain lines only\n"
           "  -q, --quiet             only the closing summary (and prompts, warnings, bad input)\n"
           "  --record FILE           write every call the tests make to the operating system and the\n"
           "                          UART registers, with its answer, to FILE (one JSON object a line)\n"
           "  --replay FILE           play a --record FILE back: the same tests on the same devices, every\n"
           "                          call answered from FILE, no port touched; the first call that differs\n"
           "                          ends the program with exit status 6\n"
           "  --no-restore            leave each port as the tests leave it (default: the registers and\n"
           "                          port settings a test changes are put back as they were found)\n"
           "  --allow-io 0xNNN        let the register tests also reach the 8 I/O ports from 0xNNN, for a\n"
           "                          port whose I/O base it is, though the platform does not report that\n"
           "                          window (repeatable; experts only; never the kernel console's UART)\n"
           "\n"
           "Exit status: 0 every run PASS or NOTSUPPORTED (--strict: PASS); 1 a run FAILed; 2 bad input,\n"
           "nothing run; 3 no failure but some run ended otherwise (CANNOTRUN, USERABORTED, ...);\n"
           "4 no such device or test; 5 a report, JUnit or record file could not be written;\n"
           "6 --replay: the run asked a call other than the recording's.\n"
           "Ctrl-C stops the current test at its next stop check (in a soak: ends after the current test);\n"
           "a second Ctrl-C ends the program at once.\n";
}

} // namespace tarnhost
