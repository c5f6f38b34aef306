// The framework's start() is defined by the host linked into a program (kivu5::HostStart); the fuzz programs
// link the framework for its values only and never start it.
#include "kivu5/Framework.h"

int kivu5::HostStart() {
    return 0;
}
