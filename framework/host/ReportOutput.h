// Where a report goes (--report, --junit): a file or standard output.
#pragma once

#include <fstream>
#include <optional>
#include <string>

namespace tarnhost {

// A report file is opened before anything runs, so a bad path is bad input. It is opened in two steps, so
// that bad input found after it (another output's path) leaves no trace: first without truncating (a file
// it had to create is removed again if the runs never start, or if the session ends by an exception), then,
// once every check has passed, emptied by Start.
class CReportOutput {
public:
    // path: the option's value, "-" for standard output, none for no report. Throws CHostInputError when
    // the file cannot be opened for writing.
    CReportOutput(const std::optional<std::string>& path, const char* option);
    ~CReportOutput();
    CReportOutput(const CReportOutput&) = delete;
    CReportOutput& operator=(const CReportOutput&) = delete;

    // Every check passed: the file is the run's from now on, emptied of an earlier report.
    void Start();
    bool Wanted() const { return m_toStdout || m_file.is_open(); }
    // Returns false, after saying so on standard error, when the text could not be written.
    bool Write(const std::string& text);

private:
    const char* m_option;
    bool m_toStdout = false;
    bool m_created = false;
    bool m_started = false;
    std::string m_path;
    std::ofstream m_file;
};

} // namespace tarnhost
