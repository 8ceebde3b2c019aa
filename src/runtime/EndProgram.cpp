#include "runtime/EndProgram.h"

#include <cstdio>
#include <cstdlib>

void EndProgram(int exitCode) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
