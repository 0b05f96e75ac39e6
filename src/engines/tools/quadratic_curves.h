#pragma once

#include <cmath>

namespace tools {

/// A cubic Bézier curve from (x0, y0) to (x3, y3) as quadratic ones, which TrueType and Flash
/// fonts are made of: split in halves (de Casteljau) until the quadratic that stands for each
/// piece lies within `tolerance` of it, or `depth` halvings. `emit(cx, cy, x, y)` receives each
/// quadratic's control and end point in order.
template <class Emit>
void cubicToQuadratics(double x0, double y0, double x1, double y1, double x2, double y2, double x3,
                       double y3, double tolerance, int depth, const Emit& emit) {
    // The best quadratic strays from the cubic by at most √3/36 of |P3 − 3P2 + 3P1 − P0|.
    const double ex = x3 - 3 * x2 + 3 * x1 - x0;
    const double ey = y3 - 3 * y2 + 3 * y1 - y0;
    if (depth <= 0 || std::hypot(ex, ey) * std::sqrt(3.0) / 36 <= tolerance) {
        emit((3 * (x1 + x2) - x0 - x3) / 4, (3 * (y1 + y2) - y0 - y3) / 4, x3, y3);
        return;
    }
    const double ax = (x0 + x1) / 2, ay = (y0 + y1) / 2;
    const double bx = (x1 + x2) / 2, by = (y1 + y2) / 2;
    const double cx = (x2 + x3) / 2, cy = (y2 + y3) / 2;
    const double abx = (ax + bx) / 2, aby = (ay + by) / 2;
    const double bcx = (bx + cx) / 2, bcy = (by + cy) / 2;
    const double mx = (abx + bcx) / 2, my = (aby + bcy) / 2;
    cubicToQuadratics(x0, y0, ax, ay, abx, aby, mx, my, tolerance, depth - 1, emit);
    cubicToQuadratics(mx, my, bcx, bcy, cx, cy, x3, y3, tolerance, depth - 1, emit);
}

} // namespace tools
