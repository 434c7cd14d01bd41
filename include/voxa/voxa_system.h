/* voxa_system.h - System control: execution, stops, delays, baud rates, board-wide modes. Included by voxa.h. */
#ifndef VOXA_VOXA_SYSTEM_H
#define VOXA_VOXA_SYSTEM_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
#endif
