/* voxa_io.h - Servo I/O, general-purpose and extension I/O, comparators, PID, alarms, capture. Included by voxa.h. */
#ifndef VOXA_VOXA_IO_H
#define VOXA_VOXA_IO_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
#endif
