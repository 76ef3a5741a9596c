#include "core/controls/ButtonOutline.h"

#include <algorithm>
#include <cmath>

namespace {

// Inclusive span of the rounded rectangle's row y, or an empty span (a > b).
void RoundRectSpan(int left, int top, int right, int bottom, int ew, int eh, int y, int& a,
                   int& b) {
    a = left;
    b = right - 1;
    const double rx = ew / 2.0, ry = eh / 2.0;
    const double py = y + 0.5;
    double cy;
    if (py < top + ry)
        cy = top + ry;
    else if (py > bottom - ry)
        cy = bottom - ry;
    else
        return;
    const double t = ((py - cy) / ry) * ((py - cy) / ry);
    if (t > 1.0) {
        a = 1;
        b = 0;
        return;
    }
    const double dx = rx * std::sqrt(1.0 - t);
    a = std::max(left, static_cast<int>(std::ceil(left + rx - dx - 0.5)));
    b = std::min(right - 1, static_cast<int>(std::floor(right - rx + dx - 0.5)));
}

}  // namespace

std::vector<OutlineRun> RoundedOutline(int left, int top, int right, int bottom, int ellipse) {
    std::vector<OutlineRun> runs;
    if (right <= left || bottom <= top) return runs;
    const int ew = std::min(ellipse, right - left);
    const int eh = std::min(ellipse, bottom - top);
    const int rows = bottom - top;
    std::vector<int> a(static_cast<size_t>(rows)), b(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i)
        RoundRectSpan(left, top, right, bottom, ew, eh, top + i, a[i], b[i]);
    const auto add = [&runs](int x0, int x1, int y, bool outline) {
        if (x1 > x0) runs.push_back({x0, x1, y, outline});
    };
    for (int i = 0; i < rows; ++i) {
        if (a[i] > b[i]) continue;
        const int y = top + i;
        if (i == 0 || i == rows - 1) {
            add(a[i], b[i] + 1, y, true);
            continue;
        }
        // A pixel is on the outline when a 4-neighbour lies outside the shape.
        const int innerA = std::max({a[i] + 1, a[i - 1], a[i + 1]});
        const int innerB = std::min({b[i] - 1, b[i - 1], b[i + 1]});
        add(a[i], b[i] + 1, y, false);
        add(a[i], std::min(innerA, b[i] + 1), y, true);
        add(std::max(innerB + 1, innerA), b[i] + 1, y, true);
    }
    return runs;
}
