// Scenario files (formats.md section 2): every key lands in its Scenario field; unknown keys, wrong
// types and values out of range are bad input naming the key's JSON path; "attached" presets and objects.
#include "host/ScenarioLoader.h"
#include "host/HostError.h"

#include "Spawn.h"

#include <gtest/gtest.h>

namespace tarnhost {
namespace {

using tarnsim::AttachedConfig;
using tarnsim::Scenario;
using tarnsim::UartConfig;

Scenario Load(const std::string& json) {
    return ParseScenario(json, "s.json");
}

// The error line for a scenario, "" when it loads.
std::string ErrorLine(const std::string& json) {
    try {
        Load(json);
    } catch (const CHostInputError& e) {
        EXPECT_EQ(e.ExitStatus(), EXIT_BAD_INPUT);
        return e.Line();
    }
    return "";
}

// A one-port scenario with this text inside the port object.
std::string Port(const std::string& inside) {
    return "{\"ports\":[{\"com\":1," + inside + "}]}";
}

TEST(ScenarioLoader, DefaultsGiveAHealthyPort) {
    Scenario scenario = Load(R"({"ports":[{"com":1}]})");
    EXPECT_TRUE(scenario.driverInstalled);
    EXPECT_FALSE(scenario.stopAfterChecks);
    ASSERT_EQ(scenario.ports.size(), 1u);
    const tarnsim::PortConfig& port = scenario.ports[0];
    EXPECT_EQ(port.com, 1u);
    EXPECT_FALSE(port.io);
    EXPECT_EQ(port.uart.model, UartConfig::Model::Uart16550A);
    EXPECT_EQ(port.uart.id, 0x20);
    EXPECT_EQ(port.uart.msr, UartConfig::Msr::Loopback);
    EXPECT_FALSE(port.uart.pending);
    EXPECT_EQ(port.os.openError, 0u);
    EXPECT_EQ(port.os.provSubType, 1u);
    EXPECT_EQ(port.os.settableBaud, 0x7FB50u);
    EXPECT_EQ(port.os.baud, 9600u);
    EXPECT_FALSE(port.attached.txToRx); // "none"
    EXPECT_FALSE(port.attached.reply);
}

TEST(ScenarioLoader, TopLevelKeysMapToTheirFields) {
    Scenario scenario =
        Load(R"({"description":"d","driverInstalled":false,"stopAfterChecks":7,"ports":[{"com":2}]})");
    EXPECT_FALSE(scenario.driverInstalled);
    EXPECT_EQ(scenario.stopAfterChecks, 7u);
    EXPECT_FALSE(Load(R"({"stopAfterChecks":null,"ports":[]})").stopAfterChecks);
    EXPECT_EQ(Load(R"({"stopAfterChecks":0,"ports":[]})").stopAfterChecks, 0u);
}

TEST(ScenarioLoader, PortKeysMapToTheirFields) {
    Scenario scenario = Load(R"({"ports":[{"com":3,"io":[1016,760]},{"name":"USB0","io":[]}]})");
    ASSERT_EQ(scenario.ports.size(), 2u);
    EXPECT_EQ(scenario.ports[0].com, 3u);
    EXPECT_EQ(scenario.ports[0].io, (std::vector<uint32_t>{1016, 760}));
    EXPECT_EQ(scenario.ports[0].DeviceName(), "COM3");
    EXPECT_FALSE(scenario.ports[1].com);
    ASSERT_TRUE(scenario.ports[1].io);
    EXPECT_TRUE(scenario.ports[1].io->empty());
    EXPECT_EQ(scenario.ports[1].DeviceName(), "USB0");
}

TEST(ScenarioLoader, UartKeysMapToTheirFields) {
    Scenario scenario = Load(Port(R"("uart":{"model":"ns-banked","id":37,"ircr":12,"excr1":1,"mcrMode":64,
        "msr":"swap","corrupt":[{"rate":2400,"value":65,"readAs":66}],
        "lineErrors":[{"rate":9600,"value":7,"lsr":12}],"noThre":true,"noEcho":true,"pending":90})"));
    const UartConfig& uart = scenario.ports[0].uart;
    EXPECT_EQ(uart.model, UartConfig::Model::NsBanked);
    EXPECT_EQ(uart.id, 37);
    EXPECT_EQ(uart.ircr, 12);
    EXPECT_EQ(uart.excr1, 1);
    EXPECT_EQ(uart.mcrMode, 64);
    EXPECT_EQ(uart.msr, UartConfig::Msr::Swap);
    ASSERT_EQ(uart.corrupt.size(), 1u);
    EXPECT_EQ(uart.corrupt[0].rate, 2400u);
    EXPECT_EQ(uart.corrupt[0].value, 65);
    EXPECT_EQ(uart.corrupt[0].readAs, 66);
    ASSERT_EQ(uart.lineErrors.size(), 1u);
    EXPECT_EQ(uart.lineErrors[0].rate, 9600u);
    EXPECT_EQ(uart.lineErrors[0].value, 7);
    EXPECT_EQ(uart.lineErrors[0].lsr, 12);
    EXPECT_TRUE(uart.noThre);
    EXPECT_TRUE(uart.noEcho);
    EXPECT_EQ(uart.pending, 90);
}

TEST(ScenarioLoader, UartModelsAndMsrValues) {
    EXPECT_EQ(Load(Port(R"("uart":{"model":"16550A"})")).ports[0].uart.model, UartConfig::Model::Uart16550A);
    EXPECT_EQ(Load(Port(R"("uart":{"model":"absent"})")).ports[0].uart.model, UartConfig::Model::Absent);
    EXPECT_EQ(Load(Port(R"("uart":{"msr":"zero"})")).ports[0].uart.msr, UartConfig::Msr::Zero);
    EXPECT_EQ(Load(Port(R"("uart":{"msr":"loopback"})")).ports[0].uart.msr, UartConfig::Msr::Loopback);
    EXPECT_FALSE(Load(Port(R"("uart":{"pending":null})")).ports[0].uart.pending);
}

TEST(ScenarioLoader, OsKeysMapToTheirFields) {
    Scenario scenario = Load(Port(R"("os":{"openError":31,"provSubType":6,"settableBaud":2048,"baud":115200,
        "failConfigureAt":[300,9600],"fail":["GetCommState","WriteFile"]})"));
    const tarnsim::OsConfig& os = scenario.ports[0].os;
    EXPECT_EQ(os.openError, 31u);
    EXPECT_EQ(os.provSubType, 6u);
    EXPECT_EQ(os.settableBaud, 2048u);
    EXPECT_EQ(os.baud, 115200u);
    EXPECT_EQ(os.failConfigureAt, (std::vector<uint32_t>{300, 9600}));
    EXPECT_EQ(os.fail, (std::vector<std::string>{"GetCommState", "WriteFile"}));
}

void ExpectSameAttached(const AttachedConfig& a, const AttachedConfig& b) {
    EXPECT_EQ(a.txToRx, b.txToRx);
    EXPECT_EQ(a.dtrToDsr, b.dtrToDsr);
    EXPECT_EQ(a.rtsToCts, b.rtsToCts);
    EXPECT_EQ(a.dsr, b.dsr);
    EXPECT_EQ(a.cts, b.cts);
    EXPECT_EQ(a.drop, b.drop);
    EXPECT_EQ(a.acceptPerWrite, b.acceptPerWrite);
    EXPECT_EQ(a.appendZeros, b.appendZeros);
    EXPECT_EQ(a.reply, b.reply);
}

TEST(ScenarioLoader, AttachedStringPresets) {
    ExpectSameAttached(Load(Port(R"("attached":"none")")).ports[0].attached, AttachedConfig::None());
    ExpectSameAttached(Load(Port(R"("attached":"loopback")")).ports[0].attached, AttachedConfig::Loopback());
    ExpectSameAttached(Load(Port(R"("attached":"modem")")).ports[0].attached, AttachedConfig::Modem());
    ExpectSameAttached(Load(Port(R"("attached":"modem-error")")).ports[0].attached,
                       AttachedConfig::ModemError());
    EXPECT_TRUE(Load(Port(R"("attached":"loopback")")).ports[0].attached.txToRx);
    EXPECT_EQ(Load(Port(R"("attached":"modem")")).ports[0].attached.reply, std::string("\r\nOK\r\n"));
}

TEST(ScenarioLoader, AttachedObjectForm) {
    Scenario scenario = Load(Port(R"("attached":{"txToRx":true,"dtrToDsr":true,"rtsToCts":false,"dsr":"high",
        "cts":"low","drop":[100,200],"acceptPerWrite":3,"appendZeros":2,"reply":"\r\nOK\r\n"})"));
    const AttachedConfig& attached = scenario.ports[0].attached;
    EXPECT_TRUE(attached.txToRx);
    EXPECT_TRUE(attached.dtrToDsr);
    EXPECT_FALSE(attached.rtsToCts);
    EXPECT_EQ(attached.dsr, AttachedConfig::Hold::High);
    EXPECT_EQ(attached.cts, AttachedConfig::Hold::Low);
    EXPECT_EQ(attached.drop, (std::vector<uint32_t>{100, 200}));
    EXPECT_EQ(attached.acceptPerWrite, 3u);
    EXPECT_EQ(attached.appendZeros, 2u);
    EXPECT_EQ(attached.reply, std::string("\r\nOK\r\n"));
    EXPECT_EQ(Load(Port(R"("attached":{})")).ports[0].attached.dsr, AttachedConfig::Hold::Wired);
}

TEST(ScenarioLoader, UnknownKeysAreErrorsNamingTheirPath) {
    EXPECT_EQ(ErrorLine(R"({"port":[],"ports":[]})"), "tarnserialport: s.json: port: unknown key (known "
                                                      "here: description, driverInstalled, stopAfterChecks, "
                                                      "ports)");
    EXPECT_EQ(ErrorLine(Port(R"("uart":{"modle":"absent"})")),
              "tarnserialport: s.json: ports[0].uart.modle: unknown key (known here: model, id, ircr, excr1, "
              "mcrMode, "
              "msr, corrupt, lineErrors, noThre, noEcho, pending)");
    EXPECT_NE(ErrorLine(Port(R"("Com":1)")).find("s.json: ports[0].Com: unknown key"), std::string::npos);
    EXPECT_NE(ErrorLine(Port(R"("os":{"openErr":5})")).find("ports[0].os.openErr: unknown key"),
              std::string::npos);
    EXPECT_NE(ErrorLine(Port(R"("attached":{"txtoRx":true})")).find("ports[0].attached.txtoRx: unknown key"),
              std::string::npos);
    EXPECT_NE(ErrorLine(Port(R"("uart":{"corrupt":[{"rate":1,"value":2,"readas":3}]})"))
                  .find("ports[0].uart.corrupt[0].readas: unknown key"),
              std::string::npos);
    EXPECT_NE(ErrorLine(Port(R"("uart":{"lineErrors":[{"rate":1,"value":2,"lsr":2,"x":0}]})"))
                  .find("ports[0].uart.lineErrors[0].x: unknown key"),
              std::string::npos);
}

TEST(ScenarioLoader, WrongTypesAreErrorsNamingTheKey) {
    EXPECT_EQ(ErrorLine(R"({"driverInstalled":"yes","ports":[]})"),
              "tarnserialport: s.json: driverInstalled: expected true or false, got \"yes\"");
    EXPECT_EQ(ErrorLine(R"({"ports":[{"com":"1"}]})"),
              "tarnserialport: s.json: ports[0].com: expected an integer from 0 to 4294967295, got \"1\"");
    EXPECT_EQ(ErrorLine(R"({"ports":[{"com":1.5}]})"),
              "tarnserialport: s.json: ports[0].com: expected an integer from 0 to 4294967295, got 1.5");
    EXPECT_EQ(ErrorLine(R"({"ports":{}})"), "tarnserialport: s.json: ports: expected an array, got {}");
    EXPECT_EQ(ErrorLine(Port(R"("io":1016)")),
              "tarnserialport: s.json: ports[0].io: expected an array, got 1016");
    EXPECT_EQ(
        ErrorLine(Port(R"("io":[1016,"0x2F8"])")),
        "tarnserialport: s.json: ports[0].io[1]: expected an integer from 0 to 4294967295, got \"0x2F8\"");
    EXPECT_EQ(ErrorLine(Port(R"("uart":"16550A")")),
              "tarnserialport: s.json: ports[0].uart: expected an object, got \"16550A\"");
    EXPECT_EQ(ErrorLine(Port(R"("uart":{"model":"16450"})")),
              "tarnserialport: s.json: ports[0].uart.model: expected one of \"16550A\", \"ns-banked\", "
              "\"absent\", got "
              "\"16450\"");
    EXPECT_EQ(ErrorLine(Port(R"("uart":{"noThre":1})")),
              "tarnserialport: s.json: ports[0].uart.noThre: expected true or false, got 1");
    EXPECT_EQ(ErrorLine(Port(R"("attached":"loop")")),
              "tarnserialport: s.json: ports[0].attached: expected one of \"none\", \"loopback\", \"modem\", "
              "\"modem-error\", got \"loop\"");
    EXPECT_EQ(ErrorLine(Port(R"("attached":true)")), "tarnserialport: s.json: ports[0].attached: expected "
                                                     "\"none\", \"loopback\", \"modem\", \"modem-error\" or "
                                                     "an object");
    EXPECT_EQ(ErrorLine(Port(R"("attached":{"dsr":"on"})")),
              "tarnserialport: s.json: ports[0].attached.dsr: expected one of \"high\", \"low\", got \"on\"");
    EXPECT_EQ(ErrorLine(Port(R"("attached":{"reply":5})")),
              "tarnserialport: s.json: ports[0].attached.reply: expected a string, got 5");
}

TEST(ScenarioLoader, ValuesOutOfRangeAreErrors) {
    EXPECT_EQ(ErrorLine(R"({"ports":[{"com":-1}]})"),
              "tarnserialport: s.json: ports[0].com: -1 is out of range (from 0 to 4294967295)");
    EXPECT_EQ(ErrorLine(R"({"ports":[{"com":4294967296}]})"),
              "tarnserialport: s.json: ports[0].com: 4294967296 is out of range (from 0 to 4294967295)");
    EXPECT_EQ(ErrorLine(Port(R"("uart":{"id":256})")),
              "tarnserialport: s.json: ports[0].uart.id: 256 is out of range (from 0 to 255)");
    EXPECT_EQ(ErrorLine(Port(R"("uart":{"pending":300})")),
              "tarnserialport: s.json: ports[0].uart.pending: 300 is out of range (from 0 to 255)");
    EXPECT_EQ(ErrorLine(Port(R"("attached":{"acceptPerWrite":9})")),
              "tarnserialport: s.json: ports[0].attached.acceptPerWrite: 9 is out of range (from 0 to 8)");
    EXPECT_EQ(ErrorLine(R"({"stopAfterChecks":-2,"ports":[]})"),
              "tarnserialport: s.json: stopAfterChecks: -2 is out of range (from 0 to 4294967295)");
}

TEST(ScenarioLoader, MisleadingBitValuesAreErrors) {
    EXPECT_EQ(ErrorLine(Port(R"("uart":{"mcrMode":2})")),
              "tarnserialport: s.json: ports[0].uart.mcrMode: only the bits 0xE0 (32, 64, 128) may be set");
    EXPECT_EQ(ErrorLine(Port(R"("uart":{"lineErrors":[{"rate":1,"value":2,"lsr":1}]})")),
              "tarnserialport: s.json: ports[0].uart.lineErrors[0].lsr: only the bits 2 (OE), 4 (PE) and 8 "
              "(FE) may "
              "be set");
}

TEST(ScenarioLoader, MisspeltWin32CallNameIsAnError) {
    EXPECT_NE(
        ErrorLine(Port(R"("os":{"fail":["GetCommStat"]})")).find("ports[0].os.fail[0]: expected one of"),
        std::string::npos);
}

TEST(ScenarioLoader, RuleEntriesNeedAllTheirKeys) {
    EXPECT_EQ(ErrorLine(Port(R"("uart":{"corrupt":[{"rate":2400,"value":1}]})")),
              "tarnserialport: s.json: ports[0].uart.corrupt[0].readAs: missing");
}

TEST(ScenarioLoader, PortsAreRequired) {
    EXPECT_EQ(ErrorLine(R"({"driverInstalled":true})"),
              "tarnserialport: s.json: ports: missing (every scenario lists its ports)");
    EXPECT_EQ(ErrorLine(R"([1,2])"), "tarnserialport: s.json: top level: expected an object, got [1,2]");
}

TEST(ScenarioLoader, APortNeedsANameAndNamesAreUnique) {
    EXPECT_EQ(ErrorLine(R"({"ports":[{"io":[1016]}]})"),
              "tarnserialport: s.json: ports[0]: needs \"com\" or \"name\" (the device's name)");
    EXPECT_EQ(ErrorLine(R"({"ports":[{"com":1},{"com":2},{"com":1}]})"),
              "tarnserialport: s.json: ports[2]: device name COM1 is already used by ports[0]");
}

TEST(ScenarioLoader, AKeyGivenTwiceIsAnError) {
    EXPECT_EQ(
        ErrorLine(R"({"ports":[{"com":1,"io":[1016]},{"com":2,"attached":"none","attached":"loopback"}]})"),
        "tarnserialport: s.json: ports[1].attached: key given twice");
}

TEST(ScenarioLoader, InvalidJsonIsAnErrorWithItsPlace) {
    std::string line = ErrorLine("{\"ports\":[\n{\"com\":1,}]}");
    EXPECT_EQ(line.rfind("tarnserialport: s.json: not valid JSON: line 2, column 10:", 0), 0u) << line;
}

TEST(ScenarioLoader, AMissingFileIsAnErrorNamingIt) {
    try {
        LoadScenarioFile("/nonexistent/scenario.json");
        ADD_FAILURE() << "loaded";
    } catch (const CHostInputError& e) {
        EXPECT_EQ(e.Line(), "tarnserialport: /nonexistent/scenario.json: cannot be read (--sim)");
    }
}

TEST(ScenarioLoader, TheBuiltInScenarioIsOneHealthyPortWithAPlug) {
    Scenario loaded = Load(R"({"ports":[{"com":1,"io":[1016],"attached":"loopback"}]})");
    Scenario builtIn = Scenario::BuiltIn();
    ASSERT_EQ(builtIn.ports.size(), 1u);
    EXPECT_EQ(builtIn.ports[0].com, loaded.ports[0].com);
    EXPECT_EQ(builtIn.ports[0].io, loaded.ports[0].io);
    ExpectSameAttached(builtIn.ports[0].attached, loaded.ports[0].attached);
}

TEST(ScenarioLoader, EveryExampleScenarioLoads) {
    for (const char* name :
         {"healthy.json", "dead-uart.json", "infrared-uart.json", "modem.json", "no-plug.json",
          "flaky-plug.json", "access-denied.json", "no-driver.json", "user-stop.json", "two-ports.json"}) {
        EXPECT_NO_THROW(LoadScenarioFile(tarnhosttest::ExamplePath(name))) << name;
    }
}

TEST(ScenarioLoader, ExamplesSetTheKnobsTheirNamesPromise) {
    using tarnhosttest::ExamplePath;
    EXPECT_EQ(LoadScenarioFile(ExamplePath("dead-uart.json")).ports[0].uart.model, UartConfig::Model::Absent);
    Scenario infrared = LoadScenarioFile(ExamplePath("infrared-uart.json"));
    EXPECT_EQ(infrared.ports[0].uart.model, UartConfig::Model::NsBanked);
    EXPECT_EQ(infrared.ports[0].uart.ircr, 0x0C);
    EXPECT_EQ(infrared.ports[0].io, std::vector<uint32_t>{0x3F8});
    EXPECT_EQ(LoadScenarioFile(ExamplePath("modem.json")).ports[0].attached.reply, std::string("\r\nOK\r\n"));
    EXPECT_FALSE(LoadScenarioFile(ExamplePath("no-plug.json")).ports[0].attached.txToRx);
    EXPECT_EQ(LoadScenarioFile(ExamplePath("flaky-plug.json")).ports[0].attached.drop,
              std::vector<uint32_t>{100});
    EXPECT_EQ(LoadScenarioFile(ExamplePath("access-denied.json")).ports[0].os.openError, 5u);
}

} // namespace
} // namespace tarnhost
