#pragma once
// Least-squares cubic of pulse amplitude over sample index, solved through the
// normal equations by Gauss-Jordan elimination without pivoting, and its
// evaluation at one sample index.
//
// The arithmetic is written out step by step so that every build gives the same
// numbers: powers by repeated multiplication, formed before they multiply a y
// value or a coefficient; sums accumulated in point order; each pivot read
// before its row is divided. The project compiles without floating-point
// contraction, so no step is fused.
//
// Real is double in the program. The normal matrix holds sums of x^6 with x up
// to 3999 and is very badly conditioned when the pulses lie late in the
// recording; in float the fit then misses the amplitudes by more than their own
// size. The template stays open to float only so that tests can show that.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

namespace hx {

// Fits c0..c3 of y = c0 + c1 x + c2 x^2 + c3 x^3 to the points (x[i], y[i]).
// Returns false, leaving c unchanged, when there are fewer than four points,
// when the spans differ in length, or when the solution is not finite.
template <typename Real>
bool fitCubicEnvelope(std::span<const std::int16_t> x, std::span<const std::int16_t> y,
                      std::array<Real, 4>& c) {
    const std::size_t n = x.size();
    if (n < 4 || y.size() != n) {
        return false;
    }
    // Power sums P1..P6; P0 is the number of points.
    std::array<Real, 7> power{};
    power[0] = static_cast<Real>(n);
    // Right-hand sides: sums of x^r * y for r = 0..3.
    std::array<Real, 4> rhs{};
    for (std::size_t i = 0; i < n; ++i) {
        const Real xi = static_cast<Real>(x[i]);
        const Real yi = static_cast<Real>(y[i]);
        Real xk = 1;
        for (int k = 0; k <= 6; ++k) {
            if (k > 0) {
                xk = xk * xi;
                power[k] = power[k] + xk;
            }
            if (k <= 3) {
                rhs[k] = rhs[k] + xk * yi;
            }
        }
    }

    std::array<std::array<Real, 5>, 4> m{};
    for (int r = 0; r < 4; ++r) {
        for (int col = 0; col < 4; ++col) {
            m[r][col] = power[r + col];
        }
        m[r][4] = rhs[r];
    }

    for (int p = 0; p < 4; ++p) {
        const Real pivot = m[p][p];
        for (int col = p; col < 5; ++col) {
            m[p][col] = m[p][col] / pivot;
        }
        for (int r = 0; r < 4; ++r) {
            if (r == p) {
                continue;
            }
            const Real factor = m[r][p];
            for (int col = p; col < 5; ++col) {
                m[r][col] = m[r][col] - factor * m[p][col];
            }
        }
    }

    std::array<Real, 4> solved{};
    for (int r = 0; r < 4; ++r) {
        solved[r] = m[r][4];
        if (!std::isfinite(solved[r])) {
            return false;
        }
    }
    c = solved;
    return true;
}

// The envelope at sample index s: c0 + (c3 s^3 + c2 s^2 + c1 s), the bracket
// accumulated in that order.
template <typename Real>
Real evaluateCubicEnvelope(const std::array<Real, 4>& c, int s) {
    const Real x = static_cast<Real>(s);
    const Real cube = x * x * x;
    Real f = c[3] * cube;
    const Real square = x * x;
    f = f + c[2] * square;
    f = f + c[1] * x;
    return c[0] + f;
}

}  // namespace hx
