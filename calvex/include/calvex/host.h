/* The host side of the substitute host: creating and destroying values,
 * the call boundary that turns raised errors into results, the console
 * sink, the registry of host functions and loading extension modules.
 *
 * The hx* creation functions are plain C; the rest is C++. */
#ifndef CALVEX_HOST_H
#define CALVEX_HOST_H

#include "calvex/ext.h"
#include "calvex/hx.h"

#ifdef __cplusplus
extern "C" {
#endif

/* New values, owned by the caller until hxDestroyArray or until handed
 * to hxSetField. Numeric and char elements start at zero. */
hxArray *hxCreateNumericArray(hxSize ndim, const hxSize *dims, hxClassID cls, hxComplexity c);
hxArray *hxCreateDoubleMatrix(hxSize m, hxSize n, hxComplexity c);
hxArray *hxCreateDoubleScalar(double value);
hxArray *hxCreateLogicalArray(hxSize ndim, const hxSize *dims);
/* An m-by-n sparse double matrix with no stored elements. */
hxArray *hxCreateSparse(hxSize m, hxSize n);
/* A char array of the given size, every UTF-16 unit zero. */
hxArray *hxCreateCharArray(hxSize ndim, const hxSize *dims);
/* A 1-by-n char array holding the UTF-16 form of a UTF-8 text. */
hxArray *hxCreateString(const char *utf8);
/* A 1-by-1 string scalar holding the UTF-16 form of a UTF-8 text. */
hxArray *hxCreateStringScalar(const char *utf8);
/* The UTF-16 units of a string scalar (length in *n), else null. */
const hxChar *hxGetStringScalar(const hxArray *a, hxSize *n);
hxArray *hxCreateStructArray(hxSize ndim, const hxSize *dims, int nfields, const char **names);
/* Adds a field to every element; returns its number, or the number of the
 * field that already has that name. */
int hxAddField(hxArray *s, const char *name);
/* Stores `value` (which the struct array then owns; null clears the field)
 * in element `index`, adding the field when it is missing. Any value held
 * before is destroyed. */
void hxSetField(hxArray *s, hxSize index, const char *name, hxArray *value);
void hxDestroyArray(hxArray *a);

#ifdef __cplusplus
}

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace calvex {

/* What one call through the host boundary ended with. */
struct CallResult {
  bool ok = true;
  std::string identifier; /* empty for extErrMsgTxt */
  std::string message;
};

/* The error that extErrMsgTxt and its kin raise. It does not derive from
 * std::exception, so that a module's handlers for its own failures do
 * not swallow a host error by accident. */
struct HostError {
  std::string identifier;
  std::string message;
};

/* Runs `body` as one host call: a raised host error becomes a failed
 * result. Other exceptions pass through. */
CallResult call_boundary(const std::function<void()> &body);

using HostFunction = std::function<void(int nlhs, hxArray *plhs[], int nrhs, hxArray *prhs[])>;
/* Adds or replaces a host function reachable through extCallCalvex. */
void register_function(const std::string &name, HostFunction fn);
void unregister_function(const std::string &name);

/* The console: everything written through extPrintf and ext_putsn is kept
 * until taken, and also written to standard output when echo is on. */
std::string take_console();
void set_console_echo(bool echo);

/* Number of hxCalloc blocks not yet released with hxFree. */
std::size_t live_allocations();

std::u16string utf8_to_utf16(const std::string &text);
std::string utf16_to_utf8(const std::u16string &text);

/* An extension module loaded from a shared object. */
class Module {
 public:
  /* Throws std::runtime_error naming the file and the loader's reason
   * when the object cannot be loaded or lacks extFunction. */
  explicit Module(const std::string &path);
  ~Module();
  Module(const Module &) = delete;
  Module &operator=(const Module &) = delete;

  /* The values the module reports through extfilerequiredapiversion
   * (both 0 when it does not export it). */
  std::uint32_t release() const { return release_; }
  std::uint32_t api_version() const { return api_version_; }

  CallResult call(int nlhs, hxArray *plhs[], int nrhs, const hxArray *prhs[]);

 private:
  void *handle_ = nullptr;
  extFunctionType entry_ = nullptr;
  std::uint32_t release_ = 0;
  std::uint32_t api_version_ = 0;
};

}  // namespace calvex

#endif

#endif
