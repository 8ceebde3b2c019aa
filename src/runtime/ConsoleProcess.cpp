#include "runtime/ConsoleProcess.h"

// Each platform begins a run its own way; stopping the last one first and naming what failed are shared.
Result<void> ConsoleProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    Stop();
    return Begin(program, arguments).Doing("starting " + program);
}
