#include "mover.h"

#include <algorithm>
#include <cmath>

namespace voxa_sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinVel = 10.0;  // pulses/s: the slowest a move crawls to its end

double NormaliseSweep(double d, bool cw) {
  // CCW sweeps lie in (0, 2pi], CW sweeps in [-2pi, 0); a zero sweep is a
  // full circle.
  const double two_pi = 2 * kPi;
  if (cw) {
    while (d >= -1e-9) d -= two_pi;
    while (d < -two_pi - 1e-9) d += two_pi;
  } else {
    while (d <= 1e-9) d += two_pi;
    while (d > two_pi + 1e-9) d -= two_pi;
  }
  return d;
}

}  // namespace

void Mover::BendToArc(int a, int b, double centre_a, double centre_b, bool cw) {
  kind = kArc;
  ax_a = a;
  ax_b = b;
  cx = centre_a;
  cy = centre_b;
  const double x0 = start[a] - cx, y0 = start[b] - cy;
  const double x1 = end[a] - cx, y1 = end[b] - cy;
  r0 = std::hypot(x0, y0);
  r1 = std::hypot(x1, y1);
  th0 = std::atan2(y0, x0);
  const double th1 = std::atan2(y1, x1);
  dth = NormaliseSweep(th1 - th0, cw);
  const double arc = std::fabs(dth) * (r0 + r1) / 2;
  double other2 = 0;
  for (int i = 0; i < kWords; ++i)
    if ((axes & (1u << i)) && i != a && i != b) other2 += (end[i] - start[i]) * (end[i] - start[i]);
  length = std::sqrt(arc * arc + other2);
}

bool Mover::Step(double dt, bool hold) {
  if (finished) return true;
  const double floor_v = std::min(std::max(vstart, kMinVel), vmax);
  if (stopping || hold) {
    v = dec > 0 ? std::max(0.0, v - dec * dt) : 0.0;
    if (v < floor_v) v = 0;
    vstate = v > 0 ? kDecelerating : kStopped;
  } else {
    if (v < floor_v) v = floor_v;
    const double remaining = length - s;
    const double brake = dec > 0 ? (v * v - floor_v * floor_v) / (2 * dec) : 0.0;
    if (std::isfinite(remaining) && remaining <= brake + v * dt * 0.5) {
      v = dec > 0 ? std::max(floor_v, v - dec * dt) : v;
      vstate = kDecelerating;
    } else if (v < vmax) {
      v = acc > 0 ? std::min(vmax, v + acc * dt) : vmax;
      vstate = v < vmax ? kAccelerating : kConstant;
    } else if (v > vmax) {
      v = dec > 0 ? std::max(vmax, v - dec * dt) : vmax;
      vstate = kDecelerating;
    } else {
      vstate = kConstant;
    }
  }
  s += v * dt;
  if (s >= length) {
    s = length;
    v = 0;
    vstate = kStopped;
    finished = true;
    return true;
  }
  if (v == 0 && stopping) {
    finished = true;
    return true;
  }
  return false;
}

double Mover::PositionOf(int i) const {
  const bool at_end = s >= length;
  const double f = (length > 0 && std::isfinite(length)) ? s / length : 1.0;
  switch (kind) {
    case kRotate:
      return start[i] + dir * s;
    case kArc:
      if (at_end) return end[i];
      if (i == ax_a || i == ax_b) {
        const double th = th0 + dth * f;
        const double r = r0 + (r1 - r0) * f;
        return i == ax_a ? cx + r * std::cos(th) : cy + r * std::sin(th);
      }
      return start[i] + (end[i] - start[i]) * f;
    default:
      return at_end ? end[i] : start[i] + (end[i] - start[i]) * f;
  }
}

void Mover::Shift(int axis, double d) {
  if (!(axes & (1u << axis))) return;
  start[axis] += d;
  end[axis] += d;
  if (kind == kArc) {
    if (axis == ax_a) cx += d;
    if (axis == ax_b) cy += d;
  }
}

}  // namespace voxa_sim
