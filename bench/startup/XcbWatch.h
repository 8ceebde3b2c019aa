#pragma once

// Watching a program's windows from outside, on an X display: when its next top-level window is mapped, and
// when that window shows text in a given rectangle (read back from the display).
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>

struct XcbRegion {
    int16_t x = 0;
    int16_t y = 0;
    uint16_t width = 0;
    uint16_t height = 0;
};

// Asks `connection` to report windows mapped on its first screen; call once before starting the programs.
void WatchTopLevelWindows(xcb_connection_t* connection);

// Waits for the next top-level window to be mapped; its id, or 0 on a closed connection or at the deadline.
xcb_window_t WaitForMappedWindow(xcb_connection_t* connection, std::chrono::steady_clock::time_point deadline);

// Waits until `region` of `window` shows text: most of it light ground, and some darker strokes on it. A window
// not yet painted is black or one flat colour, so it never passes. False at the deadline.
bool WaitUntilDrawn(xcb_connection_t* connection, xcb_window_t window, const XcbRegion& region,
                    std::chrono::steady_clock::time_point deadline);
