// A COM port of the Linux backend on a fresh pseudo-terminal: COM7 is mapped to the pty's slave, the
// default mapping is off, and the handle is closed after each test.
#pragma once

#include "PosixTestSafety.h"
#include "PtyPair.h"
#include "os/OsBackend.h"

#include <gtest/gtest.h>

namespace backendtests {

class CPosixComFixture : public ::testing::Test {
protected:
    static constexpr unsigned COM_NUMBER = 7;
    static constexpr const wchar_t* COM_NAME = L"\\\\.\\COM7";

    void SetUp() override {
        MakePosixBackendsSafe();
        ASSERT_TRUE(m_Pty.Ok()) << "openpty failed";
        tarnos::posix::MapComPort(COM_NUMBER, m_Pty.SlaveName());
    }

    void TearDown() override {
        if (m_Handle != INVALID_HANDLE_VALUE) {
            Os().CloseHandle(m_Handle);
        }
        MakePosixBackendsSafe();
    }

    static tarnos::IWin32Backend& Os() { return tarnos::RealWin32Backend(); }

    // Opens COM7 as Part 4.2's Open does: read and write, exclusive, OPEN_EXISTING.
    static HANDLE OpenCom(const wchar_t* name = COM_NAME) {
        return Os().CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }

    // Opens COM7 into m_Handle, failing the test if that does not work.
    void OpenPort() {
        m_Handle = OpenCom();
        ASSERT_NE(m_Handle, INVALID_HANDLE_VALUE) << "error " << Os().GetLastError();
    }

    bool SetTimeouts(DWORD interval, DWORD readMultiplier, DWORD readConstant, DWORD writeMultiplier,
                     DWORD writeConstant) {
        COMMTIMEOUTS t{interval, readMultiplier, readConstant, writeMultiplier, writeConstant};
        return Os().SetCommTimeouts(m_Handle, &t) != FALSE;
    }

    CPtyPair m_Pty;
    HANDLE m_Handle = INVALID_HANDLE_VALUE;
};

} // namespace backendtests
