/* voxa_motion.h - Axis output, limits, velocity profile, positions, motion commands, home return. Included by voxa.h. */
#ifndef VOXA_VOXA_MOTION_H
#define VOXA_VOXA_MOTION_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
#endif
