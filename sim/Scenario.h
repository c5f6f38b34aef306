// The simulator's model as data: every key of a scenario file maps one to one onto a field here.
// The console host's scenario loader fills it from JSON; tests build it in code.
#pragma once

#include "os/SettableRates.h"
#include "uart/SerialReg.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnsim {

struct CorruptRule {
    uint32_t rate = 0;  // in internal loopback at this rate (115200 / divisor)
    uint8_t value = 0;  // the byte sent
    uint8_t readAs = 0; // arrives as this byte
};

struct LineErrorRule {
    uint32_t rate = 0;
    uint8_t value = 0;
    uint8_t lsr = 0; // UART_LSR_OE | UART_LSR_PE | UART_LSR_FE bits shown with the byte, until it is read
};

// What each register offset reads in turn, whatever bank or DLAB selects; the last value repeats, and an
// offset without values floats (reads 0xFF).
using UartScript = std::array<std::vector<uint8_t>, UART_REGISTER_COUNT>;

struct UartConfig {
    enum class Model { Uart16550A, NsBanked, Absent, Scripted }; // in the order of UartModelNames()
    enum class Msr { Loopback, Zero, Swap };
    Model model = Model::Uart16550A;
    UartScript reads;     // scripted: what the registers read
    uint8_t id = 0x20;    // ns-banked: bank 3 offset 0
    uint8_t ircr = 0x00;  // ns-banked: bank 4 offset 2
    uint8_t excr1 = 0x00; // ns-banked: bank 2 offset 2
    uint8_t mcrMode = 0;  // ns-banked: MCR bits 0xE0 while in extended mode
    Msr msr = Msr::Loopback;
    std::vector<CorruptRule> corrupt;
    std::vector<LineErrorRule> lineErrors;
    bool noThre = false;            // THRE never sets
    std::vector<uint32_t> noThreAt; // THRE never sets at these rates (115200 / divisor)
    bool noEcho = false;
    std::optional<uint8_t> pending;
};

struct OsConfig {
    uint32_t openError = 0;   // nonzero: every CreateFileW fails with this GetLastError code
    uint32_t provSubType = 1; // PST_RS232
    uint32_t settableBaud = tarnos::SETTABLE_RATES_MASK; // every rate a port can be asked about
    uint32_t baud = 9600;                                // the driver's rate before anyone sets one
    std::vector<uint32_t> failConfigureAt;               // SetCommState fails for these rates
    std::vector<std::string> fail; // these Win32 calls fail on this port (InjectedFailure.h)
};

struct AttachedConfig {
    enum class Hold { Wired, High, Low };
    bool txToRx = false;
    bool dtrToDsr = false;
    bool rtsToCts = false;
    Hold dsr = Hold::Wired;
    Hold cts = Hold::Wired;
    std::vector<uint32_t> drop;             // positions of each pass that are lost
    std::optional<uint32_t> acceptPerWrite; // 0..8 bytes accepted per WriteFile
    uint32_t appendZeros = 0;               // 0x00 bytes that arrive after each echoed pass
    std::optional<std::string> reply;       // what the device answers to "AT\r"
    std::optional<uint8_t> rxStuckAt;       // every byte received arrives as this one

    static AttachedConfig None() { return AttachedConfig(); }
    static AttachedConfig Loopback();   // TX->RX, DTR->DSR, RTS->CTS
    static AttachedConfig Modem();      // answers "AT\r" with "\r\nOK\r\n"
    static AttachedConfig ModemError(); // answers with "\r\nERROR\r\n"
};

struct PortConfig {
    std::optional<uint32_t> com;             // ComPortNumber; absent: the device lacks the property
    std::optional<std::vector<uint32_t>> io; // IoBaseAddresses; absent: the device lacks it
    std::string name;                        // the device name when there is no com
    bool connected = true;                   // false: the adapter is pulled out
    UartConfig uart;
    OsConfig os;
    AttachedConfig attached;

    std::string DeviceName() const; // "COM" + com, else name
};

// The calls that reach the simulated machine, by their names: the Win32 ones and those of the kernel-mode
// services library.
enum class SeamCall {
    CreateFileW,
    CloseHandle,
    GetCommState,
    SetCommState,
    BuildCommDCBW,
    SetupComm,
    SetCommTimeouts,
    GetCommTimeouts,
    ReadFile,
    WriteFile,
    GetCommModemStatus,
    GetCommProperties,
    GetLastError,
    Sleep,
    GetTickCount,
    DriverOpened,
    PortReadByte,
    PortWriteByte,
};
const size_t SEAM_CALL_COUNT = static_cast<size_t>(SeamCall::PortWriteByte) + 1;

// A change of the machine in the middle of a session: right after the count-th call of one seam call,
// counted from the start of the session, the keys it names take the settings given. Each holds a key's
// whole settings from then on (a scenario file's partial settings are merged by its loader).
struct ScenarioChange {
    SeamCall call = SeamCall::CreateFileW;
    uint32_t count = 1;
    std::optional<size_t> port; // the port whose keys change; none: the machine's own
    std::optional<UartConfig> uart;
    std::optional<OsConfig> os;
    std::optional<AttachedConfig> attached;
    std::optional<bool> connected;
    std::optional<bool> driverInstalled;
};

struct Scenario {
    bool driverInstalled = true;
    std::optional<uint32_t> stopAfterChecks; // first N checkForStop() calls false, then true
    std::vector<PortConfig> ports;
    std::vector<ScenarioChange> changes; // in order: each waits until the one before it is made

    // The built-in scenario: {"ports":[{"com":1,"io":[1016],"attached":"loopback"}]}.
    static Scenario BuiltIn();
};

// The names scenario files use, in the enums' order.
const std::vector<const char*>& UartModelNames();
const std::vector<const char*>& SeamCallNames();
const char* SeamCallName(SeamCall call);

} // namespace tarnsim
