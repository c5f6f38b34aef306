#include "qen/qen.h"

#include "os/OsBackend.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>

namespace qen {

const unsigned QENValue::nilValue = 0xFFFFFFFFu;
int LoggerPriority::LOGGER_PRIORITY = 3;
ErrorStream cerr;

String& String::append(const char* text) {
    m_text += text ? text : "";
    return *this;
}

String& String::append(const String& text) {
    m_text += text.m_text;
    return *this;
}

String QENValue::toString(unsigned nil) const {
    if (m_value == nil) {
        return String();
    }
    return String(std::to_string(m_value).c_str());
}

namespace {
std::string AssertionMessage(const char* sourceFile, size_t line, const char* expression) {
    return std::string("Assertion failed: ") + (expression ? expression : "") + " (" +
           (sourceFile ? sourceFile : "") + ":" + std::to_string(line) + ")";
}
} // namespace

AssertionFailure::AssertionFailure(const char* sourceFile, size_t line, const char* expression)
    : Exception(String(AssertionMessage(sourceFile, line, expression).c_str())),
      m_sourceFile(sourceFile ? sourceFile : ""), m_line(line), m_expression(expression ? expression : "") {}

LoggerStream& LoggerStream::append(const CString& text) {
    m_text += text.str();
    return *this;
}
LoggerStream& LoggerStream::append(const char* text) {
    m_text += text ? text : "";
    return *this;
}
LoggerStream& LoggerStream::append(int value) {
    m_text += std::to_string(value);
    return *this;
}
LoggerStream& LoggerStream::append(unsigned value) {
    m_text += std::to_string(value);
    return *this;
}

namespace {
struct SinkState {
    FILE* file = nullptr;
    std::function<void(const LogLine&)> listener;
    std::function<bool(std::FILE*)> streamGate;
    std::function<void(const std::string&)> errorWriter;
};
SinkState& Sink() {
    static SinkState state;
    return state;
}

std::string Timestamp() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    long millis = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    // One thread logs, so gmtime's shared result needs no guard.
    const std::tm parts = *std::gmtime(&seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, millis);
    return text;
}
} // namespace

bool LogSink::setFile(const char* path) {
    SinkState& sink = Sink();
    if (sink.file) {
        std::fclose(sink.file);
        sink.file = nullptr;
    }
    if (path == nullptr) {
        return true;
    }
    sink.file = std::fopen(path, "a");
    return sink.file != nullptr;
}

void LogSink::setListener(std::function<void(const LogLine&)> listener) {
    Sink().listener = std::move(listener);
}

void LogSink::setStreamGate(std::function<bool(std::FILE*)> gate) {
    Sink().streamGate = std::move(gate);
}

void LogSink::write(const LogLine& line, const std::string& loggerName) {
    SinkState& sink = Sink();
    std::FILE* stream = sink.file ? sink.file : stderr;
    if (!sink.streamGate || sink.streamGate(stream)) {
        // A log line: timestamp, logger name, priority (or TRACE), then the module's text.
        std::string level = line.isTrace ? "TRACE" : "P" + std::to_string(line.priority);
        std::string text = Timestamp() + " " + loggerName + " " + level + " " + line.text + "\n";
        std::fputs(text.c_str(), stream);
        std::fflush(stream);
    }
    if (sink.listener) {
        sink.listener(line);
    }
}

void Logger::log(int priority, const LoggerStream& stream) {
    LogSink::write(LogLine{false, priority, stream.str(), "", "", 0}, m_name);
}

void Logger::trace(bool entry, const char* function, const char* sourceFile, int line) {
    std::string text =
        std::string(entry ? "-> " : "<- ") + function + " (" + sourceFile + ":" + std::to_string(line) + ")";
    LogSink::write(LogLine{true, 0, text, function, sourceFile, line}, m_name);
}

void LogFactory::createLogger(const char* name, Logger*& out) {
    // Loggers live until the process ends, one per name, as the library keeps them.
    static std::map<std::string, std::unique_ptr<Logger>> loggers;
    std::unique_ptr<Logger>& slot = loggers[name ? name : ""];
    if (!slot) {
        slot.reset(new Logger(name ? name : ""));
    }
    out = slot.get();
}

Logger* LogGate::ForTrace(Logger* logger) {
    if (logger != nullptr && LogFactory::getPriority() <= 1 && logger->getLevel() < 1) {
        return logger;
    }
    return nullptr;
}

bool LogGate::MessageEnabled(const Logger* logger, int priority) {
    return logger != nullptr && LogFactory::getPriority() <= priority && logger->getLevel() < priority;
}

TraceLogger::TraceLogger(Logger* logger, const char* function, const char* sourceFile, int line)
    : m_logger(logger), m_function(function), m_sourceFile(sourceFile), m_line(line) {
    if (m_logger) {
        m_logger->trace(true, m_function, m_sourceFile, m_line);
    }
}

TraceLogger::~TraceLogger() {
    if (m_logger) {
        m_logger->trace(false, m_function, m_sourceFile, m_line);
    }
}

String System::getSystemErrorMsg() {
    tarnos::IWin32Backend& os = tarnos::Win32Backend();
    return String(os.SystemErrorText(os.GetLastError()).c_str());
}

namespace {
void WriteError(const std::string& text) {
    SinkState& sink = Sink();
    if (sink.errorWriter) {
        sink.errorWriter(text);
    } else {
        std::fputs(text.c_str(), stderr);
    }
}
} // namespace

ErrorStream& ErrorStream::operator<<(const char* text) {
    WriteError(text ? text : "");
    return *this;
}

ErrorStream& ErrorStream::operator<<(const String& text) {
    WriteError(text.str());
    return *this;
}

ErrorStream& ErrorStream::operator<<(const int32_t* control) {
    if (control != nullptr && *control == 0) {
        WriteError("\n");
        if (!Sink().errorWriter) {
            std::fflush(stderr);
        }
    }
    return *this;
}

void SetErrorStreamWriter(std::function<void(const std::string&)> writer) {
    Sink().errorWriter = std::move(writer);
}

} // namespace qen
