#include "host/Recording.h"

#include "host/HostError.h"

namespace tarnhost {

CRecording::CRecording(const std::string& path, const SessionFacts& facts)
    : m_Path(path), m_File(std::fopen(path.c_str(), "wb")), m_Header(FactsLine(facts)) {
    if (m_File == nullptr) {
        throw CHostInputError(path, "cannot be opened for writing (--record)");
    }
}

CRecording::~CRecording() {
    Finish();
}

bool CRecording::Finish() {
    if (m_File == nullptr) {
        return true;
    }
    if (m_Recorder) {
        m_Recorder->Finish();
        tarnos::SetBackends(m_Win32, m_PortIo);
        m_Recorder.reset();
    }
    bool written = std::ferror(m_File) == 0;
    written = std::fclose(m_File) == 0 && written;
    m_File = nullptr;
    if (!written) {
        std::fprintf(stderr, "tarnserialport: %s: could not be written (--record)\n", m_Path.c_str());
    }
    return written;
}

void CRecording::Start() {
    m_Win32 = &tarnos::Win32Backend();
    m_PortIo = &tarnos::PortIoBackend();
    m_Recorder.reset(new tarnos::CCallRecorder(*m_Win32, *m_PortIo, m_File, m_Header));
    tarnos::SetBackends(m_Recorder.get(), m_Recorder.get());
}

} // namespace tarnhost
