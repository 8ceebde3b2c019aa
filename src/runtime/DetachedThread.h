#pragma once

#include <cstddef>
#include <functional>

// Starts `body` on a thread of its own with a stack of `stackSize` bytes and never joins it. False when the
// thread could not be started; `body` is then dropped without running.
bool StartDetachedThread(std::function<void()> body, std::size_t stackSize);
