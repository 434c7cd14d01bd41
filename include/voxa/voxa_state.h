/* voxa_state.h - State packets, state timers, packet counters and messages. Included by voxa.h. */
#ifndef VOXA_VOXA_STATE_H
#define VOXA_VOXA_STATE_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
#endif
