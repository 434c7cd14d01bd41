/* voxa_config.h - Configuration file. Included by voxa.h. */
#ifndef VOXA_VOXA_CONFIG_H
#define VOXA_VOXA_CONFIG_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
#endif
