#include "app/FontWarmUp.h"

#include <fontconfig/fontconfig.h>

// Qt's font database calls FcInit itself, which then finds the configuration read; one that could not be read is
// read again there, and its failure told as Qt tells it.
FontWarmUp::FontWarmUp()
    : reader_([] { FcInit(); }) {}
