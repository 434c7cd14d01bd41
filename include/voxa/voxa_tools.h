/* voxa_tools.h - Tracing and error texts. Included by voxa.h. */
#ifndef VOXA_VOXA_TOOLS_H
#define VOXA_VOXA_TOOLS_H
#include "voxa.h"
#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif
#endif
