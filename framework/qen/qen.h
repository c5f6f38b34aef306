// The common-services library (namespace qen): strings, logging, exceptions and the text of the last
// system error, as the module calls them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace qen {

// An 8-bit copy of a String, for logging.
class CString {
public:
    CString() = default;
    explicit CString(std::string text) : m_text(std::move(text)) {}
    const char* c_str() const { return m_text.c_str(); }
    const std::string& str() const { return m_text; }

private:
    std::string m_text;
};

class String {
public:
    String() = default;
    String(const char* text) : m_text(text ? text : "") {} // NOLINT: implicit as in the library
    String& append(const char* text);
    String& append(const String& text);
    CString getUTF8String() const { return CString(m_text); }
    const std::string& str() const { return m_text; }
    bool operator==(const String& other) const { return m_text == other.m_text; }
    bool operator!=(const String& other) const { return m_text != other.m_text; }

private:
    std::string m_text;
};

// Formats a number; toString(nil) gives "" when the value equals nil, else its decimal text.
class QENValue {
public:
    static const unsigned nilValue; // outside the range of any unsigned short, so never equal to one
    explicit QENValue(unsigned short value) : m_value(value) {}
    String toString(unsigned nil) const;

private:
    unsigned short m_value;
};

class Exception {
public:
    explicit Exception(const String& message) : m_message(message) {}
    virtual ~Exception() = default;
    const String& getMessage() const { return m_message; }

private:
    String m_message;
};

class AssertionFailure : public Exception {
public:
    AssertionFailure(const char* sourceFile, size_t line, const char* expression);
    const std::string& getSourceFile() const { return m_sourceFile; }
    size_t getLine() const { return m_line; }
    const std::string& getExpression() const { return m_expression; }

private:
    std::string m_sourceFile;
    size_t m_line;
    std::string m_expression;
};

// A log message under construction: the module builds "<source line> <message><values>".
class LoggerStream {
public:
    LoggerStream() = default;
    LoggerStream& append(const CString& text);
    LoggerStream& append(const char* text);
    LoggerStream& append(int value);
    LoggerStream& append(unsigned value);
    LoggerStream operator+(const CString& text) const { return LoggerStream(*this).append(text); }
    LoggerStream operator+(const char* text) const { return LoggerStream(*this).append(text); }
    LoggerStream operator+(int value) const { return LoggerStream(*this).append(value); }
    LoggerStream operator+(unsigned value) const { return LoggerStream(*this).append(value); }
    const std::string& str() const { return m_text; }

private:
    std::string m_text;
};

class LoggerPriority {
public:
    // The global priority: messages below it are not logged, and tracing needs it at 1 or below.
    static int LOGGER_PRIORITY;
};

class Logger {
public:
    explicit Logger(std::string name, int level = 0) : m_name(std::move(name)), m_level(level) {}
    const std::string& getName() const { return m_name; }
    int getLevel() const { return m_level; }
    void setLevel(int level) { m_level = level; }
    // Writes one line, unconditionally: the caller applies the gating rules (LogGate).
    void log(int priority, const LoggerStream& stream);
    // Trace lines of TraceLogger.
    void trace(bool entry, const char* function, const char* sourceFile, int line);

private:
    std::string m_name;
    int m_level;
};

class LogFactory {
public:
    static int getPriority() { return LoggerPriority::LOGGER_PRIORITY; }
    static void createLogger(const char* name, Logger*& out);
};

// Whether a logger takes a line, for the module's tracing and messages alike.
class LogGate {
public:
    // A trace scope gets the logger only at global priority <= 1 and logger level < 1.
    static Logger* ForTrace(Logger* logger);
    // A message of priority P is logged when getPriority() <= P and the logger's level < P.
    static bool MessageEnabled(const Logger* logger, int priority);
};

// Traces entry on construction and exit on destruction; nothing for a null logger.
class TraceLogger {
public:
    TraceLogger(Logger* logger, const char* function, const char* sourceFile, int line);
    ~TraceLogger();
    TraceLogger(const TraceLogger&) = delete;
    TraceLogger& operator=(const TraceLogger&) = delete;

private:
    Logger* m_logger;
    const char* m_function;
    const char* m_sourceFile;
    int m_line;
};

class System {
public:
    // The text of the calling thread's last system error (through the platform seam).
    static String getSystemErrorMsg();
};

// The common-services error stream: "<<" for const char* and String, and a third operation taking a
// 32-bit integer by address; a zero value ends the line and flushes.
class ErrorStream {
public:
    ErrorStream& operator<<(const char* text);
    ErrorStream& operator<<(const String& text);
    ErrorStream& operator<<(const int32_t* control);
};
extern ErrorStream cerr;

// Where log and trace lines go; chosen by the host. Each also reaches the listener, if any.
struct LogLine {
    bool isTrace;
    int priority;         // messages; 0 for trace lines
    std::string text;     // messages: "<source line> <message>"; trace lines: "-> function" or "<- function"
    std::string function; // trace lines
    std::string sourceFile;
    int line;
};
class LogSink {
public:
    // Null: standard error. Otherwise every line is appended to the file.
    static bool setFile(const char* path);
    static void setListener(std::function<void(const LogLine&)> listener);
    // Asked before a line goes to its stream (the file or standard error), with that stream; false keeps
    // the line off it (the listener still gets it). A console host clears its progress line here.
    static void setStreamGate(std::function<bool(std::FILE*)> gate);
    static void write(const LogLine& line, const std::string& loggerName);
};

// Where qen::cerr writes; the host may redirect it (tests capture it).
void SetErrorStreamWriter(std::function<void(const std::string&)> writer);

} // namespace qen
