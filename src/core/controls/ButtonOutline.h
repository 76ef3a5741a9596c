// The rounded outline of the XP-style button as pixel runs, so that every system's button lays
// down the same pixels: a 1-pixel outline around a white inside, the corners outside the
// rounding left alone.
#pragma once

#include <vector>

struct OutlineRun {
    int left, right;  // right excluded
    int y;
    bool outline;  // the outline's colour, else the inside's white
};

// The runs for the rectangle (right and bottom excluded) with a corner ellipse `ellipse` pixels
// wide and high, in painting order: per row the white inside first, then its outline pixels.
std::vector<OutlineRun> RoundedOutline(int left, int top, int right, int bottom, int ellipse);
