// The framework's start() in the shipped program: the console host, given the command line without the
// program's name. Only the program links this file; other programs that link the host define their own.
#include "host/Run.h"
#include "kivu5/Framework.h"

namespace kivu5 {

int HostStart() {
    const std::vector<std::string>& commandLine = Framework::commandLine();
    std::vector<std::string> args(commandLine.size() > 1 ? commandLine.begin() + 1 : commandLine.end(),
                                  commandLine.end());
    return tarnhost::Run(args);
}

} // namespace kivu5
