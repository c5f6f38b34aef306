// Small helpers of the simulator's own tests: one-port scenarios and register access at a base address.
#pragma once

#include "os/Win32Types.h"
#include "sim/Simulation.h"
#include "uart/SerialReg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarnsimtest {

const uint16_t BASE = 0x2F8;

inline tarnsim::Scenario OnePort(tarnsim::UartConfig uart = tarnsim::UartConfig(),
                                 tarnsim::AttachedConfig attached = tarnsim::AttachedConfig::None(),
                                 uint32_t com = 2) {
    tarnsim::PortConfig port;
    port.com = com;
    port.io = std::vector<uint32_t>{BASE};
    port.uart = uart;
    port.attached = attached;
    tarnsim::Scenario scenario;
    scenario.ports.push_back(port);
    return scenario;
}

inline tarnsim::UartConfig Model(tarnsim::UartConfig::Model model) {
    tarnsim::UartConfig uart;
    uart.model = model;
    return uart;
}

// Register access at BASE + offset, as the module makes it through the kernel-mode services library.
inline uint8_t In(tarnsim::CSimulation& sim, unsigned offset) {
    unsigned char value = 0x5A;
    EXPECT_EQ(sim.ReadByte(static_cast<unsigned short>(BASE + offset), &value), 0);
    return value;
}

inline void Out(tarnsim::CSimulation& sim, unsigned offset, uint8_t value) {
    EXPECT_EQ(sim.WriteByte(static_cast<unsigned short>(BASE + offset), value), 0);
}

// The UART programmed as Part 5.3 does: internal loopback, interrupts off, 8 data bits, 2 stop bits, no
// parity, the given divisor.
inline void ProgramLoopback(tarnsim::CSimulation& sim, uint16_t divisor) {
    Out(sim, UART_MCR, static_cast<uint8_t>(In(sim, UART_MCR) | UART_MCR_LOOP));
    Out(sim, UART_IER, UART_IER_OFF);
    Out(sim, UART_LCR, UART_LCR_DLAB | UART_LCR_STOP | UART_LCR_WLEN8);
    Out(sim, UART_DLL, static_cast<uint8_t>(divisor & 0xFF));
    Out(sim, UART_DLM, static_cast<uint8_t>(divisor >> 8));
    Out(sim, UART_LCR, UART_LCR_STOP | UART_LCR_WLEN8);
}

// The character time of an 11-bit frame (1 start, 8 data, 2 stop) at 115200 / divisor, in whole
// microseconds rounded up: computed here independently of the simulator.
inline uint64_t ElevenBitCharUs(uint64_t divisor) {
    return (11 * divisor * 1000000 + 115199) / 115200;
}

inline std::wstring DeviceName(unsigned com) {
    return L"\\\\.\\COM" + std::to_wstring(com);
}

inline HANDLE Open(tarnsim::CSimulation& sim, unsigned com) {
    return sim.CreateFileW(DeviceName(com).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
}

// Part 4.2's Configure: the rate with 8N1, no handshake, queues of 2048, a read that returns at once and a
// write that gives up after 1000 ms.
inline bool Configure(tarnsim::CSimulation& sim, HANDLE handle, DWORD rate) {
    DCB dcb = {};
    dcb.DCBlength = sizeof(DCB);
    if (!sim.GetCommState(handle, &dcb) || !sim.SetupComm(handle, 2048, 2048)) {
        return false;
    }
    std::wstring text = L"baud=" + std::to_wstring(rate) + L" parity=N data=8 stop=1";
    sim.BuildCommDCBW(text.c_str(), &dcb);
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fNull = 0;
    if (!sim.SetCommState(handle, &dcb)) {
        return false;
    }
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 1000};
    return sim.SetCommTimeouts(handle, &timeouts) != FALSE;
}

inline std::string ReadAll(tarnsim::CSimulation& sim, HANDLE handle, DWORD count = 512) {
    std::string buffer(count, '\0');
    DWORD read = 0;
    EXPECT_TRUE(sim.ReadFile(handle, &buffer[0], count, &read, nullptr));
    buffer.resize(read);
    return buffer;
}

inline DWORD Write(tarnsim::CSimulation& sim, HANDLE handle, const std::string& bytes) {
    DWORD written = 0;
    EXPECT_TRUE(sim.WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    return written;
}

} // namespace tarnsimtest
