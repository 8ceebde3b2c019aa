#pragma once

#include <sys/types.h>

// Whether process `pid` has a handler of its own for `signal`, read from /proc: then it is ready for it.
bool CatchesSignal(pid_t pid, int signal);
