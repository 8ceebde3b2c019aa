#include "app/FontWarmUp.h"

// Windows keeps its fonts' description itself; there is nothing to read ahead.
FontWarmUp::FontWarmUp() = default;
