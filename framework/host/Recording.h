// --record FILE: the call recorder in front of whatever answers the seam (the simulator or this machine),
// for as long as the tests run. The file starts with one line that says what was recorded where
// (SessionFacts.h); the framework's inputs to the run come as lines of their own among the calls.
#pragma once

#include "host/SessionFacts.h"
#include "os/CallRecorder.h"

#include <cstdio>
#include <memory>
#include <string>

namespace tarnhost {

class CRecording {
public:
    // Opens the file (bad input when it cannot be written); nothing is recorded until Start.
    CRecording(const std::string& path, const SessionFacts& facts);
    ~CRecording();
    CRecording(const CRecording&) = delete;
    CRecording& operator=(const CRecording&) = delete;

    // From now on every call goes through the recorder to the backends installed before.
    void Start();
    // Where the run loop writes the inputs (null before Start).
    tarnos::CCallRecorder* Recorder() { return m_Recorder.get(); }
    // The tests are over: the backends as before, the file complete. False, after saying so on standard
    // error, when the file could not be written (a full disk).
    bool Finish();

private:
    std::string m_Path;
    std::FILE* m_File;
    std::string m_Header;
    tarnos::IWin32Backend* m_Win32 = nullptr;
    tarnos::IPortIoBackend* m_PortIo = nullptr;
    std::unique_ptr<tarnos::CCallRecorder> m_Recorder;
};

} // namespace tarnhost
