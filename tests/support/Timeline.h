// Readable forms of the framework's timeline, for assertions on the ordered list of what the module said.
#pragma once

#include "kivu5/Framework.h"

#include <string>
#include <vector>

namespace tarntest {

// One line per entry:
//   event error MiscompareError {PortNumber:text=COM1, ValueRead:int=0, ExpectedValue:int=2}
//   progress ValidityCheck {PortNumber:text=COM1}
//   percent 0
//   log 3 Port COM1can't open port.          (the rule-3 line number is checked, then left out)
//   prompt 10 option=40 look=80 nulls source=FROM_SETTINGS_FILE timeout=2000 modal -> 150
//   trace -> RunTest
std::string Describe(const kivu5::TimelineEntry& entry);
std::vector<std::string> Describe(const std::vector<kivu5::TimelineEntry>& timeline);
// Only the entries of these kinds ("event", "progress", "percent", "log", "prompt", "trace").
std::vector<std::string> Describe(const std::vector<kivu5::TimelineEntry>& timeline,
                                  const std::vector<std::string>& kinds);
// The names of the events raised, in order.
std::vector<std::string> EventNames(const std::vector<kivu5::TimelineEntry>& timeline);
// The percentages shown, in order.
std::vector<int> Percentages(const std::vector<kivu5::TimelineEntry>& timeline);
// How many entries of the kind and name (for events) or text (for logs, without line number).
size_t Count(const std::vector<kivu5::TimelineEntry>& timeline, const std::string& describedLine);

} // namespace tarntest
