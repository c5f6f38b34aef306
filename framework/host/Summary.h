// The closing summary: a table of the runs (in a soak, how often each test failed on each port), a verdict
// per port with its failures and their reasons again, one count line per port, the session's real time and
// the exit status with its meaning.
#pragma once

#include "host/RunRecord.h"

#include <functional>
#include <string>

namespace tarnhost {

// paint: how a result, verdict or severity word is shown (colour on a terminal); the text ends in "\n".
std::string SummaryText(const Session& session, int exitStatus,
                        const std::function<std::string(const std::string&)>& paint);

// The meaning of an exit status, as the summary's last line gives it.
std::string ExitMeaning(int exitStatus, bool strict);

} // namespace tarnhost
