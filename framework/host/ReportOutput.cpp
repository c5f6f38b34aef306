#include "host/ReportOutput.h"

#include "host/HostError.h"

#include <cstdio>
#include <exception>
#include <filesystem>

namespace tarnhost {

CReportOutput::CReportOutput(const std::optional<std::string>& path, const char* option) : m_option(option) {
    if (!path || *path == "-") {
        m_toStdout = path.has_value();
        return;
    }
    m_path = *path;
    std::error_code error;
    m_created = !std::filesystem::exists(m_path, error);
    m_file.open(m_path, std::ios::binary | std::ios::app);
    if (!m_file) {
        throw CHostInputError(m_path, std::string("cannot be opened for writing (") + option + ")");
    }
}

CReportOutput::~CReportOutput() {
    // Not written: the runs never started, or the session ended by an exception (a replay that differs).
    if (m_file.is_open() && m_created && (!m_started || std::uncaught_exceptions() > 0)) {
        m_file.close();
        std::error_code error;
        std::filesystem::remove(m_path, error);
    }
}

void CReportOutput::Start() {
    if (m_file.is_open()) {
        m_file.close();
        m_file.open(m_path, std::ios::binary | std::ios::trunc);
        m_started = true;
    }
}

bool CReportOutput::Write(const std::string& text) {
    if (m_toStdout) {
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0;
    }
    m_file << text;
    m_file.close();
    if (!m_file) {
        std::fprintf(stderr, "tarnserialport: %s: could not be written (%s)\n", m_path.c_str(), m_option);
        return false;
    }
    return true;
}

} // namespace tarnhost
