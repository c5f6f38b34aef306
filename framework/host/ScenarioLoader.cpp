#include "host/ScenarioLoader.h"

#include "host/JsonStrict.h"
#include "sim/InjectedFailure.h"

#include <algorithm>
#include <map>

namespace tarnhost {
namespace {

using nlohmann::json;
using tarnsim::AttachedConfig;
using tarnsim::UartConfig;

const uint64_t U32 = 0xFFFFFFFFu;
const uint64_t U8 = 0xFFu;

class CScenarioReader {
public:
    explicit CScenarioReader(const std::string& input) : m_check(input) {}

    tarnsim::Scenario Read(const json& root) {
        m_check.Object(root, "");
        m_check.OnlyKeys(root, "", {"description", "driverInstalled", "stopAfterChecks", "ports", "changes"});
        tarnsim::Scenario scenario;
        if (root.contains("description")) {
            m_check.String(root["description"], "description"); // for people; the program ignores it
        }
        if (root.contains("driverInstalled")) {
            scenario.driverInstalled = m_check.Bool(root["driverInstalled"], "driverInstalled");
        }
        if (root.contains("stopAfterChecks") && !root["stopAfterChecks"].is_null()) {
            scenario.stopAfterChecks = U32Of(root["stopAfterChecks"], "stopAfterChecks");
        }
        if (!root.contains("ports")) {
            m_check.Fail("ports", "missing (every scenario lists its ports)");
        }
        const json& ports = m_check.Array(root["ports"], "ports");
        std::map<std::string, std::string> names; // device name -> path of the port that has it
        for (size_t i = 0; i < ports.size(); ++i) {
            std::string path = JsonIndex("ports", i);
            scenario.ports.push_back(Port(ports[i], path));
            // Devices are selected by name (--device), so two ports may not share one.
            std::string name = scenario.ports.back().DeviceName();
            if (!names.emplace(name, path).second) {
                m_check.Fail(path, "device name " + name + " is already used by " + names[name]);
            }
        }
        if (root.contains("changes")) {
            scenario.changes = Changes(root["changes"], "changes", scenario.ports);
        }
        return scenario;
    }

private:
    uint32_t U32Of(const json& value, const std::string& path) const {
        return static_cast<uint32_t>(m_check.Integer(value, path, 0, U32));
    }
    uint8_t U8Of(const json& value, const std::string& path) const {
        return static_cast<uint8_t>(m_check.Integer(value, path, 0, U8));
    }
    std::vector<uint32_t> U32List(const json& value, const std::string& path) const {
        std::vector<uint32_t> values;
        for (size_t i = 0; i < m_check.Array(value, path).size(); ++i) {
            values.push_back(U32Of(value[i], JsonIndex(path, i)));
        }
        return values;
    }
    // The position of the value among names, which it must be one of.
    size_t ChoiceIndex(const json& value, const std::string& path,
                       const std::vector<const char*>& names) const {
        const std::string chosen = m_check.Choice(value, path, names);
        return static_cast<size_t>(std::find(names.begin(), names.end(), chosen) - names.begin());
    }
    const json& Required(const json& object, const std::string& path, const char* key) const {
        if (!object.contains(key)) {
            m_check.Fail(JsonKey(path, key), "missing");
        }
        return object[key];
    }

    tarnsim::PortConfig Port(const json& value, const std::string& path) const {
        m_check.Object(value, path);
        m_check.OnlyKeys(value, path, {"com", "io", "name", "connected", "uart", "os", "attached"});
        tarnsim::PortConfig port;
        if (value.contains("com")) {
            port.com = U32Of(value["com"], JsonKey(path, "com"));
        }
        if (value.contains("io")) {
            port.io = U32List(value["io"], JsonKey(path, "io"));
        }
        if (value.contains("name")) {
            port.name = m_check.String(value["name"], JsonKey(path, "name"));
        }
        if (!port.com && port.name.empty()) {
            m_check.Fail(path, "needs \"com\" or \"name\" (the device's name)");
        }
        Settings(value, path, port);
        return port;
    }

    // The keys a change may set on a port too, each merged onto what the port has.
    void Settings(const json& value, const std::string& path, tarnsim::PortConfig& port) const {
        if (value.contains("connected")) {
            port.connected = m_check.Bool(value["connected"], JsonKey(path, "connected"));
        }
        if (value.contains("uart")) {
            port.uart = Uart(value["uart"], JsonKey(path, "uart"), port.uart);
        }
        if (value.contains("os")) {
            port.os = Os(value["os"], JsonKey(path, "os"), port.os);
        }
        if (value.contains("attached")) {
            port.attached = Attached(value["attached"], JsonKey(path, "attached"), port.attached);
        }
    }

    // Each change is resolved here into the whole settings of the keys it names, merged onto the port's
    // settings as the changes before it left them (they are made in this order).
    std::vector<tarnsim::ScenarioChange> Changes(const json& value, const std::string& path,
                                                 std::vector<tarnsim::PortConfig> ports) const {
        std::vector<tarnsim::ScenarioChange> changes;
        for (size_t i = 0; i < m_check.Array(value, path).size(); ++i) {
            changes.push_back(Change(value[i], JsonIndex(path, i), ports));
        }
        return changes;
    }

    tarnsim::ScenarioChange Change(const json& value, const std::string& path,
                                   std::vector<tarnsim::PortConfig>& ports) const {
        m_check.Object(value, path);
        m_check.OnlyKeys(value, path, {"after", "port", "set"});
        const std::string afterPath = JsonKey(path, "after");
        const json& after = m_check.Object(Required(value, path, "after"), afterPath);
        m_check.OnlyKeys(after, afterPath, {"call", "count"});
        tarnsim::ScenarioChange change;
        change.call = static_cast<tarnsim::SeamCall>(ChoiceIndex(
            Required(after, afterPath, "call"), JsonKey(afterPath, "call"), tarnsim::SeamCallNames()));
        change.count = static_cast<uint32_t>(
            m_check.Integer(Required(after, afterPath, "count"), JsonKey(afterPath, "count"), 1, U32));
        const std::string setPath = JsonKey(path, "set");
        const json& set = m_check.Object(Required(value, path, "set"), setPath);
        if (!value.contains("port")) {
            m_check.OnlyKeys(set, setPath, {"driverInstalled"});
            if (set.contains("driverInstalled")) {
                change.driverInstalled =
                    m_check.Bool(set["driverInstalled"], JsonKey(setPath, "driverInstalled"));
            }
            return change;
        }
        const std::string portPath = JsonKey(path, "port");
        if (ports.empty()) {
            m_check.Fail(portPath, "the scenario has no port to change");
        }
        change.port = m_check.Integer(value["port"], portPath, 0, ports.size() - 1);
        m_check.OnlyKeys(set, setPath, {"connected", "uart", "os", "attached"});
        tarnsim::PortConfig& port = ports[*change.port];
        Settings(set, setPath, port);
        if (set.contains("connected")) {
            change.connected = port.connected;
        }
        if (set.contains("uart")) {
            change.uart = port.uart;
        }
        if (set.contains("os")) {
            change.os = port.os;
        }
        if (set.contains("attached")) {
            change.attached = port.attached;
        }
        return change;
    }

    UartConfig Uart(const json& value, const std::string& path, UartConfig uart) const {
        m_check.Object(value, path);
        m_check.OnlyKeys(value, path,
                         {"model", "id", "ircr", "excr1", "mcrMode", "msr", "corrupt", "lineErrors", "noThre",
                          "noEcho", "pending", "reads"});
        if (value.contains("model")) {
            uart.model = static_cast<UartConfig::Model>(
                ChoiceIndex(value["model"], JsonKey(path, "model"), tarnsim::UartModelNames()));
        }
        if (value.contains("reads")) {
            uart.reads = Script(value["reads"], JsonKey(path, "reads"));
        }
        if (value.contains("id")) {
            uart.id = U8Of(value["id"], JsonKey(path, "id"));
        }
        if (value.contains("ircr")) {
            uart.ircr = U8Of(value["ircr"], JsonKey(path, "ircr"));
        }
        if (value.contains("excr1")) {
            uart.excr1 = U8Of(value["excr1"], JsonKey(path, "excr1"));
        }
        if (value.contains("mcrMode")) {
            uart.mcrMode = U8Of(value["mcrMode"], JsonKey(path, "mcrMode"));
            // The value of MCR bits 0xE0 themselves (0x40, not 2): a mode number would silently vanish.
            if ((uart.mcrMode & ~0xE0) != 0) {
                m_check.Fail(JsonKey(path, "mcrMode"), "only the bits 0xE0 (32, 64, 128) may be set");
            }
        }
        if (value.contains("msr")) {
            std::string msr =
                m_check.Choice(value["msr"], JsonKey(path, "msr"), {"loopback", "zero", "swap"});
            uart.msr = msr == "loopback" ? UartConfig::Msr::Loopback
                       : msr == "zero"   ? UartConfig::Msr::Zero
                                         : UartConfig::Msr::Swap;
        }
        if (value.contains("corrupt")) {
            std::string listPath = JsonKey(path, "corrupt");
            const json& list = m_check.Array(value["corrupt"], listPath);
            uart.corrupt.clear();
            for (size_t i = 0; i < list.size(); ++i) {
                std::string rulePath = JsonIndex(listPath, i);
                m_check.Object(list[i], rulePath);
                m_check.OnlyKeys(list[i], rulePath, {"rate", "value", "readAs"});
                tarnsim::CorruptRule rule;
                rule.rate = U32Of(Required(list[i], rulePath, "rate"), JsonKey(rulePath, "rate"));
                rule.value = U8Of(Required(list[i], rulePath, "value"), JsonKey(rulePath, "value"));
                rule.readAs = U8Of(Required(list[i], rulePath, "readAs"), JsonKey(rulePath, "readAs"));
                uart.corrupt.push_back(rule);
            }
        }
        if (value.contains("lineErrors")) {
            std::string listPath = JsonKey(path, "lineErrors");
            const json& list = m_check.Array(value["lineErrors"], listPath);
            uart.lineErrors.clear();
            for (size_t i = 0; i < list.size(); ++i) {
                std::string rulePath = JsonIndex(listPath, i);
                m_check.Object(list[i], rulePath);
                m_check.OnlyKeys(list[i], rulePath, {"rate", "value", "lsr"});
                tarnsim::LineErrorRule rule;
                rule.rate = U32Of(Required(list[i], rulePath, "rate"), JsonKey(rulePath, "rate"));
                rule.value = U8Of(Required(list[i], rulePath, "value"), JsonKey(rulePath, "value"));
                rule.lsr = U8Of(Required(list[i], rulePath, "lsr"), JsonKey(rulePath, "lsr"));
                // Only overrun, parity and framing errors come with a received byte.
                if ((rule.lsr & ~0x0E) != 0) {
                    m_check.Fail(JsonKey(rulePath, "lsr"),
                                 "only the bits 2 (OE), 4 (PE) and 8 (FE) may be set");
                }
                uart.lineErrors.push_back(rule);
            }
        }
        if (value.contains("noThre")) {
            // true: at every rate; a list: at these rates only.
            const json& noThre = value["noThre"];
            const std::string noThrePath = JsonKey(path, "noThre");
            if (!noThre.is_boolean() && !noThre.is_array()) {
                m_check.Fail(noThrePath, "expected true, false or an array of rates");
            }
            uart.noThre = noThre.is_boolean() && noThre.get<bool>();
            uart.noThreAt = noThre.is_array() ? U32List(noThre, noThrePath) : std::vector<uint32_t>();
        }
        if (value.contains("noEcho")) {
            uart.noEcho = m_check.Bool(value["noEcho"], JsonKey(path, "noEcho"));
        }
        if (value.contains("pending")) {
            uart.pending.reset(); // null: no byte waiting
            if (!value["pending"].is_null()) {
                uart.pending = U8Of(value["pending"], JsonKey(path, "pending"));
            }
        }
        return uart;
    }

    // {"0": [37, 38], "2": [8, 8, 8, 193]}: what each register offset reads in turn.
    tarnsim::UartScript Script(const json& value, const std::string& path) const {
        m_check.Object(value, path);
        m_check.OnlyKeys(value, path, {"0", "1", "2", "3", "4", "5", "6", "7"});
        tarnsim::UartScript script;
        for (auto it = value.begin(); it != value.end(); ++it) {
            const std::string listPath = JsonKey(path, it.key());
            const json& list = m_check.Array(it.value(), listPath);
            if (list.empty()) {
                m_check.Fail(listPath, "needs at least one value (an offset left out reads 0xFF)");
            }
            for (size_t i = 0; i < list.size(); ++i) {
                script[std::stoul(it.key())].push_back(U8Of(list[i], JsonIndex(listPath, i)));
            }
        }
        return script;
    }

    tarnsim::OsConfig Os(const json& value, const std::string& path, tarnsim::OsConfig os) const {
        m_check.Object(value, path);
        m_check.OnlyKeys(value, path,
                         {"openError", "provSubType", "settableBaud", "baud", "failConfigureAt", "fail"});
        if (value.contains("openError")) {
            os.openError = U32Of(value["openError"], JsonKey(path, "openError"));
        }
        if (value.contains("provSubType")) {
            os.provSubType = U32Of(value["provSubType"], JsonKey(path, "provSubType"));
        }
        if (value.contains("settableBaud")) {
            os.settableBaud = U32Of(value["settableBaud"], JsonKey(path, "settableBaud"));
        }
        if (value.contains("baud")) {
            os.baud = U32Of(value["baud"], JsonKey(path, "baud"));
        }
        if (value.contains("failConfigureAt")) {
            os.failConfigureAt = U32List(value["failConfigureAt"], JsonKey(path, "failConfigureAt"));
        }
        if (value.contains("fail")) {
            std::string listPath = JsonKey(path, "fail");
            const json& list = m_check.Array(value["fail"], listPath);
            os.fail.clear();
            for (size_t i = 0; i < list.size(); ++i) {
                // Only calls the simulator can make fail: a misspelt or other name would fail nothing.
                os.fail.push_back(m_check.Choice(list[i], JsonIndex(listPath, i), tarnsim::FailableCalls()));
            }
        }
        return os;
    }

    // A preset replaces the whole plug; an object's keys are merged onto attached.
    AttachedConfig Attached(const json& value, const std::string& path, AttachedConfig attached) const {
        if (value.is_string()) {
            std::string preset = m_check.Choice(value, path, {"none", "loopback", "modem", "modem-error"});
            return preset == "loopback"      ? AttachedConfig::Loopback()
                   : preset == "modem"       ? AttachedConfig::Modem()
                   : preset == "modem-error" ? AttachedConfig::ModemError()
                                             : AttachedConfig::None();
        }
        if (!value.is_object()) {
            m_check.Fail(path, "expected \"none\", \"loopback\", \"modem\", \"modem-error\" or an object");
        }
        m_check.OnlyKeys(value, path,
                         {"txToRx", "dtrToDsr", "rtsToCts", "dsr", "cts", "drop", "acceptPerWrite",
                          "appendZeros", "reply", "rxStuckAt"});
        if (value.contains("txToRx")) {
            attached.txToRx = m_check.Bool(value["txToRx"], JsonKey(path, "txToRx"));
        }
        if (value.contains("dtrToDsr")) {
            attached.dtrToDsr = m_check.Bool(value["dtrToDsr"], JsonKey(path, "dtrToDsr"));
        }
        if (value.contains("rtsToCts")) {
            attached.rtsToCts = m_check.Bool(value["rtsToCts"], JsonKey(path, "rtsToCts"));
        }
        if (value.contains("dsr")) {
            attached.dsr = Hold(value["dsr"], JsonKey(path, "dsr"));
        }
        if (value.contains("cts")) {
            attached.cts = Hold(value["cts"], JsonKey(path, "cts"));
        }
        if (value.contains("drop")) {
            attached.drop = U32List(value["drop"], JsonKey(path, "drop"));
        }
        if (value.contains("acceptPerWrite")) {
            attached.acceptPerWrite = static_cast<uint32_t>(
                m_check.Integer(value["acceptPerWrite"], JsonKey(path, "acceptPerWrite"), 0, 8));
        }
        if (value.contains("appendZeros")) {
            // Bounded so that a slip of the keyboard cannot make the simulator queue gigabytes.
            attached.appendZeros = static_cast<uint32_t>(
                m_check.Integer(value["appendZeros"], JsonKey(path, "appendZeros"), 0, 65536));
        }
        if (value.contains("reply")) {
            attached.reply = m_check.String(value["reply"], JsonKey(path, "reply"));
        }
        if (value.contains("rxStuckAt")) {
            attached.rxStuckAt = U8Of(value["rxStuckAt"], JsonKey(path, "rxStuckAt"));
        }
        return attached;
    }

    AttachedConfig::Hold Hold(const json& value, const std::string& path) const {
        return m_check.Choice(value, path, {"high", "low"}) == "high" ? AttachedConfig::Hold::High
                                                                      : AttachedConfig::Hold::Low;
    }

    CJsonChecker m_check;
};

} // namespace

tarnsim::Scenario ParseScenario(const std::string& jsonText, const std::string& input) {
    return CScenarioReader(input).Read(ParseStrictJson(jsonText, input));
}

tarnsim::Scenario LoadScenarioFile(const std::string& path) {
    return ParseScenario(ReadInputFile(path, "--sim"), path);
}

} // namespace tarnhost
