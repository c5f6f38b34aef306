#include "host/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tarnhost {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream) {
    struct winsize size {};
    return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool EnableColour(std::FILE*) {
    return true; // terminals on Linux take ANSI sequences as they are
}

} // namespace tarnhost
