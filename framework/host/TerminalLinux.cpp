#include "host/Terminal.h"

#include <unistd.h>

namespace tarnhost {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

} // namespace tarnhost
