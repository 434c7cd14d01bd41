/* voxa_queue.h - Command queue, command mode, command IDs, waits and completion. Included by voxa.h. */
#ifndef VOXA_VOXA_QUEUE_H
#define VOXA_VOXA_QUEUE_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
#endif
