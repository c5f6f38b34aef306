// Lines of one named logger of the framework, for the parts of the platform that log outside the module.
// The logger is made at its first line, once the framework's log settings are in place.
#pragma once

#include "qen/qen.h"

#include <string>

namespace tarnos {

class CNamedLog {
public:
    explicit CNamedLog(const char* name) : m_Name(name) {}
    // The line is written only when the session's log priority lets this priority through.
    void Line(int priority, const std::string& text) {
        if (m_Logger == nullptr) {
            qen::LogFactory::createLogger(m_Name, m_Logger);
        }
        if (qen::LogGate::MessageEnabled(m_Logger, priority)) {
            m_Logger->log(priority, qen::LoggerStream().append(text.c_str()));
        }
    }

private:
    const char* m_Name;
    qen::Logger* m_Logger = nullptr;
};

} // namespace tarnos
