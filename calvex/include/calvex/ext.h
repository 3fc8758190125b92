/* The gateway half of the host's extension interface. */
#ifndef CALVEX_EXT_H
#define CALVEX_EXT_H

#include <stdint.h>

#include "calvex/hx.h"

#ifdef __cplusplus
extern "C" {
#define CALVEX_NORETURN [[noreturn]]
#else
#define CALVEX_NORETURN _Noreturn
#endif

/* Exported by an extension module: one call per command, on the host's
 * thread. plhs has room for max(nlhs, 1) outputs. */
typedef void (*extFunctionType)(int nlhs, hxArray *plhs[], int nrhs, const hxArray *prhs[]);
/* Exported by an extension module: the host release it was built
 * against and the interface version it requires. */
typedef void (*extApiVersionType)(uint32_t *release, uint32_t *api_version);

/* End the current call with a host error; control never comes back.
 * The text of extErrMsgIdAndTxt is a printf format. */
CALVEX_NORETURN void extErrMsgTxt(const char *message);
CALVEX_NORETURN void extErrMsgIdAndTxt(const char *identifier, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

/* Formatted text to the host console; returns the number of bytes. */
int extPrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* Writes `length` bytes of UTF-8 text to the host console. */
int ext_putsn(const char *text, int length);

/* Runs the host function `name`. An error it raises unwinds through the
 * caller exactly like extErrMsgIdAndTxt. Returns 0 when it ran. */
int extCallCalvex(int nlhs, hxArray *plhs[], int nrhs, hxArray *prhs[], const char *name);
/* Evaluates a command text: the first word names a host function, the
 * other blank-separated words are passed to it as char arrays. Returns 0
 * when it ran, 1 when no such function exists. */
int extEvalString(const char *command);

#ifdef __cplusplus
}
#endif

#endif
