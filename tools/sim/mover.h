// One path that some axes of the simulated board follow, with a trapezoidal
// velocity profile over its length: a straight line, an arc in the plane of
// two axes (other axes linear), or the endless rotation of one axis.
#pragma once

#include <cstdint>

#include "codec.h"

namespace voxa_sim {

// Velocity states, as AXISSTATUS bits 0-1 and CHIPSTATUS word 0 bits 10-11
// report them.
enum VelState : int { kStopped = 0, kAccelerating = 1, kConstant = 2, kDecelerating = 3 };

struct Mover {
  enum Kind { kLine, kArc, kRotate } kind = kLine;
  uint8_t axes = 0;
  double start[kWords] = {};
  double end[kWords] = {};
  int ax_a = -1, ax_b = -1;  // arc plane
  double cx = 0, cy = 0, r0 = 0, r1 = 0, th0 = 0, dth = 0;
  int dir = 1;               // rotation direction
  double length = 0;         // path length in pulses (rotation: endless)
  double s = 0;              // distance travelled
  double v = 0;              // path velocity, pulses/s
  double vstart = 0, vmax = 0, acc = 0, dec = 0;  // pulses/s, pulses/s^2 (0 = no ramp)
  bool stopping = false;     // decelerate to a halt, then end
  bool finished = false;
  int vstate = kStopped;

  // Bends a straight mover from start to end into an arc in the plane of
  // axes a and b around (centre_a, centre_b), clockwise or not; an arc that
  // ends where it starts is a full circle.
  void BendToArc(int a, int b, double centre_a, double centre_b, bool cw);
  // Advances the mover by dt seconds (held: decelerating to a halt without
  // ending); true once it has ended, at its end or stopped.
  bool Step(double dt, bool hold);
  // Where axis i of the mover stands at the distance travelled.
  double PositionOf(int axis) const;
  // Moves the coordinates of one axis by d.
  void Shift(int axis, double d);
};

}  // namespace voxa_sim
