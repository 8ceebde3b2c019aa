#pragma once

// Program-wide look and services of the windows layer: the default font (SimSun 9 pt, served by an
// installed CJK font where SimSun is missing), the window icon and the fatal-error box.
void ConfigureApplication();
