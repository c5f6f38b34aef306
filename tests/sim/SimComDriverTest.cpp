// The virtual OS COM driver: names, open failures, exclusivity, the DCB, properties, time-outs, injected
// failures, a pulled device and the call hook (formats.md section 2, "os").
#include "SimTestHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarnsimtest;
using tarnsim::AttachedConfig;
using tarnsim::CSimulation;

namespace {

const DWORD ALL_TWELVE_RATES = 0x7FB50;

} // namespace

TEST(SimComDriver, OpensByDeviceNameAndClosesAgain) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::None(), 3));
    HANDLE handle = Open(sim, 3);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(sim.OpenHandleCount(), 1u);
    EXPECT_TRUE(sim.CloseHandle(handle));
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
    EXPECT_FALSE(sim.CloseHandle(handle)); // closed already
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(SimComDriver, Com10OpensOnlyByTheBackslashDotBackslashName) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::None(), 10));
    const wchar_t* wrong[] = {L"COM10",        L"\\\\.\\COM010", L"\\\\.\\COM1", L"\\\\.\\COM10 ",
                              L"\\\\.\\com10", L"\\\\.\\COM",    L"\\\\?\\COM10"};
    for (const wchar_t* name : wrong) {
        EXPECT_EQ(sim.CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    HANDLE handle = Open(sim, 10);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
}

TEST(SimComDriver, UnknownPortFailsWithFileNotFound) {
    CSimulation sim(OnePort());
    EXPECT_EQ(Open(sim, 7), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(SimComDriver, OpenErrorMakesEveryOpenFailWithItsCode) {
    for (DWORD code : {DWORD{2}, DWORD{5}, DWORD{31}, DWORD{1167}}) {
        tarnsim::Scenario scenario = OnePort();
        scenario.ports[0].os.openError = code;
        CSimulation sim(scenario);
        EXPECT_EQ(Open(sim, 2), INVALID_HANDLE_VALUE);
        EXPECT_EQ(sim.GetLastError(), code);
        EXPECT_EQ(Open(sim, 2), INVALID_HANDLE_VALUE);
        EXPECT_EQ(sim.OpenHandleCount(), 0u);
    }
}

TEST(SimComDriver, SecondOpenWhileOpenIsAccessDenied) {
    CSimulation sim(OnePort());
    HANDLE first = Open(sim, 2);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(sim, 2), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(sim.CloseHandle(first));
    HANDLE again = Open(sim, 2);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_NE(again, first); // handles are not reused
}

TEST(SimComDriver, GetCommStateGivesTheDriversRateWith8N1AndDtrRtsOn) {
    tarnsim::Scenario scenario = OnePort();
    scenario.ports[0].os.baud = 19200;
    CSimulation sim(scenario);
    HANDLE handle = Open(sim, 2);
    DCB dcb = {};
    dcb.DCBlength = sizeof(DCB);
    ASSERT_TRUE(sim.GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(sim.CurrentBaud(0), 19200u);
}

TEST(SimComDriver, RateSetBeforeCloseIsSeenByTheNextOpen) {
    CSimulation sim(OnePort());
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 57600));
    sim.CloseHandle(handle);
    EXPECT_EQ(sim.CurrentBaud(0), 57600u);
    EXPECT_EQ(sim.Os(0).baud, 57600u);
    handle = Open(sim, 2);
    DCB dcb = {};
    ASSERT_TRUE(sim.GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 57600u);
}

TEST(SimComDriver, RateChangedInTheConfigMidTestIsTheDriversRate) {
    CSimulation sim(OnePort());
    HANDLE handle = Open(sim, 2);
    sim.Os(0).baud = 4800;
    DCB dcb = {};
    ASSERT_TRUE(sim.GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 4800u);
}

TEST(SimComDriver, SetCommStateFailsAtAFailConfigureAtRate) {
    tarnsim::Scenario scenario = OnePort();
    scenario.ports[0].os.failConfigureAt = {19200};
    CSimulation sim(scenario);
    HANDLE handle = Open(sim, 2);
    EXPECT_FALSE(Configure(sim, handle, 19200));
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(sim.CurrentBaud(0), 9600u);
    EXPECT_TRUE(Configure(sim, handle, 38400));
    EXPECT_EQ(sim.CurrentBaud(0), 38400u);
}

TEST(SimComDriver, SetCommStateRefusesAnImpossibleFrame) {
    CSimulation sim(OnePort());
    HANDLE handle = Open(sim, 2);
    DCB dcb = {};
    ASSERT_TRUE(sim.GetCommState(handle, &dcb));
    DCB bad = dcb;
    bad.ByteSize = 9;
    EXPECT_FALSE(sim.SetCommState(handle, &bad));
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    bad = dcb;
    bad.BaudRate = 0;
    EXPECT_FALSE(sim.SetCommState(handle, &bad));
}

TEST(SimComDriver, FailListMakesTheNamedCallsFailWithGenFailure) {
    tarnsim::Scenario scenario = OnePort();
    scenario.ports[0].os.fail = {"GetCommState", "GetCommModemStatus", "ReadFile"};
    CSimulation sim(scenario);
    HANDLE handle = Open(sim, 2);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DCB dcb = {};
    EXPECT_FALSE(sim.GetCommState(handle, &dcb));
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    DWORD status = 0;
    EXPECT_FALSE(sim.GetCommModemStatus(handle, &status));
    char buffer[4];
    DWORD read = 99;
    EXPECT_FALSE(sim.ReadFile(handle, buffer, 4, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(sim.SetupComm(handle, 2048, 2048));
    COMMPROP properties = {};
    EXPECT_TRUE(sim.GetCommProperties(handle, &properties));
}

TEST(SimComDriver, FailListCanMakeTheOpenFail) {
    tarnsim::Scenario scenario = OnePort();
    scenario.ports[0].os.fail = {"CreateFileW"};
    CSimulation sim(scenario);
    EXPECT_EQ(Open(sim, 2), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    sim.Os(0).fail.clear(); // read live
    EXPECT_NE(Open(sim, 2), INVALID_HANDLE_VALUE);
}

TEST(SimComDriver, FailedGetCommPropertiesLeavesTheCallersRecord) {
    tarnsim::Scenario scenario = OnePort();
    scenario.ports[0].os.fail = {"GetCommProperties"};
    CSimulation sim(scenario);
    HANDLE handle = Open(sim, 2);
    COMMPROP properties = {};
    properties.dwProvSubType = 0;
    properties.dwSettableBaud = 0;
    EXPECT_FALSE(sim.GetCommProperties(handle, &properties));
    EXPECT_EQ(properties.dwProvSubType, 0u);
    EXPECT_EQ(properties.dwSettableBaud, 0u);
}

TEST(SimComDriver, GetCommPropertiesReportsTheScenariosSubtypeAndRates) {
    tarnsim::Scenario scenario = OnePort();
    scenario.ports[0].os.provSubType = PST_MODEM;
    scenario.ports[0].os.settableBaud = BAUD_9600 | BAUD_115200;
    CSimulation sim(scenario);
    HANDLE handle = Open(sim, 2);
    COMMPROP properties = {};
    ASSERT_TRUE(sim.GetCommProperties(handle, &properties));
    EXPECT_EQ(properties.dwProvSubType, PST_MODEM);
    EXPECT_EQ(properties.dwSettableBaud, BAUD_9600 | BAUD_115200);
    EXPECT_EQ(properties.wPacketLength, sizeof(COMMPROP));
    EXPECT_EQ(properties.dwServiceMask, SP_SERIALCOMM);
    EXPECT_EQ(properties.dwMaxBaud, BAUD_USER);
    EXPECT_EQ(properties.wSettableData, DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8);
    EXPECT_NE(properties.wSettableStopParity & (STOPBITS_10 | PARITY_NONE), 0u);
    EXPECT_NE(properties.dwProvCapabilities & PCF_TOTALTIMEOUTS, 0u);
    EXPECT_NE(properties.dwSettableParams & SP_BAUD, 0u);
    EXPECT_EQ(properties.dwCurrentRxQueue, 4096u);
    ASSERT_TRUE(sim.SetupComm(handle, 2048, 2048));
    ASSERT_TRUE(sim.GetCommProperties(handle, &properties));
    EXPECT_EQ(properties.dwCurrentRxQueue, 2048u);
    EXPECT_EQ(properties.dwCurrentTxQueue, 2048u);
}

TEST(SimComDriver, DefaultSettableBaudHoldsAllTwelveRates) {
    CSimulation sim(OnePort());
    HANDLE handle = Open(sim, 2);
    COMMPROP properties = {};
    ASSERT_TRUE(sim.GetCommProperties(handle, &properties));
    EXPECT_EQ(properties.dwSettableBaud, ALL_TWELVE_RATES);
    EXPECT_EQ(properties.dwProvSubType, PST_RS232);
}

TEST(SimComDriver, WriteTakesTheLineTimeAt9600N81) {
    CSimulation sim(OnePort());
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    const uint64_t before = sim.Clock().NowUs();
    EXPECT_EQ(Write(sim, handle, "01234567"), 8u);
    EXPECT_EQ(sim.Clock().NowUs() - before, (8u * 10u * 1000000u + 9599u) / 9600u); // 8 * 10 / 9600 s
}

TEST(SimComDriver, WriteTimeFollowsTheFrameOfTheDcb) {
    CSimulation sim(OnePort());
    HANDLE handle = Open(sim, 2);
    DCB dcb = {};
    ASSERT_TRUE(sim.GetCommState(handle, &dcb));
    ASSERT_TRUE(sim.BuildCommDCBW(L"baud=1200 parity=E data=7 stop=2", &dcb));
    ASSERT_TRUE(sim.SetCommState(handle, &dcb));
    const uint64_t before = sim.Clock().NowUs();
    EXPECT_EQ(Write(sim, handle, "abc"), 3u);
    EXPECT_EQ(sim.Clock().NowUs() - before, 3u * 11u * 1000000u / 1200u); // 1 + 7 + 1 + 2 bits
}

TEST(SimComDriver, WriteTimeoutSendsOnlyWhatFitsAndReturnsTrue) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Loopback()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 5}; // 5 ms: 4 characters of 1.04 ms
    ASSERT_TRUE(sim.SetCommTimeouts(handle, &timeouts));
    const uint64_t before = sim.Clock().NowUs();
    EXPECT_EQ(Write(sim, handle, "01234567"), 4u);
    EXPECT_EQ(sim.Clock().NowUs() - before, 5000u);
    EXPECT_EQ(ReadAll(sim, handle), "0123");
}

TEST(SimComDriver, ReadWithMaxdwordIntervalAndZeroTotalsReturnsAtOnce) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Modem()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    Write(sim, handle, "AT\r"); // the answer is on its way
    const uint64_t before = sim.Clock().NowUs();
    EXPECT_EQ(ReadAll(sim, handle, 10), "");
    EXPECT_EQ(sim.Clock().NowUs(), before);
}

TEST(SimComDriver, ReadWithTotalTimeoutWaitsForTheCountOrTheTimeout) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Modem()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    COMMTIMEOUTS timeouts = {0, 0, 100, 0, 1000};
    ASSERT_TRUE(sim.SetCommTimeouts(handle, &timeouts));
    uint64_t before = sim.Clock().NowUs();
    EXPECT_EQ(ReadAll(sim, handle, 4), ""); // nothing comes: the whole 100 ms
    EXPECT_EQ(sim.Clock().NowUs() - before, 100000u);

    Write(sim, handle, "AT\r");
    before = sim.Clock().NowUs();
    EXPECT_EQ(ReadAll(sim, handle, 4), "\r\nOK"); // ends with the 4th byte: 20 ms + 4 characters
    EXPECT_EQ(sim.Clock().NowUs() - before, 20000u + (4u * 10u * 1000000u + 9599u) / 9600u);
    EXPECT_EQ(ReadAll(sim, handle, 4), "\r\n");
}

TEST(SimComDriver, ReadWithoutTimeoutsEndsWhenNothingMoreIsOnItsWay) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Modem()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    COMMTIMEOUTS none = {0, 0, 0, 0, 0};
    ASSERT_TRUE(sim.SetCommTimeouts(handle, &none));
    Write(sim, handle, "AT\r");
    EXPECT_EQ(ReadAll(sim, handle, 100), "\r\nOK\r\n");
}

TEST(SimComDriver, ReadWithMaxdwordMultiplierReturnsWithTheFirstByte) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Modem()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 500, 0, 1000};
    ASSERT_TRUE(sim.SetCommTimeouts(handle, &timeouts));
    Write(sim, handle, "AT\r");
    EXPECT_EQ(ReadAll(sim, handle, 10), "\r");
}

TEST(SimComDriver, InputQueueHoldsAtMostItsSize) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Loopback()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 115200));
    ASSERT_TRUE(sim.SetupComm(handle, 16, 16));
    Write(sim, handle, std::string(40, 'x'));
    EXPECT_EQ(ReadAll(sim, handle).size(), 16u);
}

TEST(SimComDriver, OpenForgetsWhatWasReceivedBefore) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Loopback()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    Write(sim, handle, "left over");
    sim.CloseHandle(handle);
    handle = Open(sim, 2);
    EXPECT_EQ(ReadAll(sim, handle), "");
}

TEST(SimComDriver, DisconnectedPortFailsEveryCallButCloseHandle) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Loopback()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    sim.Disconnect(0);
    DCB dcb = {};
    EXPECT_FALSE(sim.GetCommState(handle, &dcb));
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    DWORD written = 5;
    EXPECT_FALSE(sim.WriteFile(handle, "ab", 2, &written, nullptr));
    EXPECT_EQ(written, 0u);
    DWORD status = 0;
    EXPECT_FALSE(sim.GetCommModemStatus(handle, &status));
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(sim.CloseHandle(handle));
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
    EXPECT_EQ(Open(sim, 2), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    sim.Reconnect(0);
    EXPECT_NE(Open(sim, 2), INVALID_HANDLE_VALUE);
}

TEST(SimComDriver, CallHookSeesEveryCallOnThePortFirst) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::None(), 4));
    std::vector<std::string> calls;
    sim.SetCallHook([&](const std::string& call, size_t port) {
        calls.push_back(call + "@" + std::to_string(port));
        if (call == "GetCommModemStatus") {
            sim.Os(0).fail = {"GetCommModemStatus"}; // a fault injected at the moment of the call
        }
    });
    HANDLE handle = Open(sim, 4);
    Configure(sim, handle, 9600);
    DWORD status = 0;
    EXPECT_FALSE(sim.GetCommModemStatus(handle, &status));
    sim.CloseHandle(handle);
    EXPECT_EQ(calls,
              (std::vector<std::string>{"CreateFileW@0", "GetCommState@0", "SetupComm@0", "SetCommState@0",
                                        "SetCommTimeouts@0", "GetCommModemStatus@0", "CloseHandle@0"}));
}

TEST(SimComDriver, LastErrorStaysAfterASuccessfulCall) {
    CSimulation sim(OnePort());
    EXPECT_EQ(Open(sim, 9), INVALID_HANDLE_VALUE);
    HANDLE handle = Open(sim, 2);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(SimComDriver, BuildCommDcbParsesThePart42FrameText) {
    CSimulation sim(OnePort());
    DCB dcb = {};
    dcb.fOutxCtsFlow = 1;
    ASSERT_TRUE(sim.BuildCommDCBW(L"baud=115200 parity=N data=8 stop=1", &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u); // fields the text does not name stay
    EXPECT_FALSE(sim.BuildCommDCBW(L"baud=fast", &dcb));
    EXPECT_EQ(sim.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SimComDriver, SystemErrorTextsAreWindowsTexts) {
    CSimulation sim(OnePort());
    EXPECT_EQ(sim.SystemErrorText(2), "The system cannot find the file specified.");
    EXPECT_EQ(sim.SystemErrorText(5), "Access is denied.");
    EXPECT_EQ(sim.SystemErrorText(31), "A device attached to the system is not functioning.");
    EXPECT_EQ(sim.SystemErrorText(87), "The parameter is incorrect.");
    EXPECT_EQ(sim.SystemErrorText(1167), "The device is not connected.");
    EXPECT_FALSE(sim.SystemErrorText(12345).empty());
}
