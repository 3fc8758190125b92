// An extension module for the host's tests: echoes its inputs to the
// console, and raises errors on request.
#include <cstdint>
#include <memory>
#include <string>

#include "calvex/ext.h"
#include "calvex/host.h"

extern "C" void extfilerequiredapiversion(uint32_t *release, uint32_t *api_version) {
  *release = 0x2302;
  *api_version = 0x08000000;
}

extern "C" void extFunction(int nlhs, hxArray *[], int nrhs, const hxArray *prhs[]) {
  if (nlhs > 0) extErrMsgIdAndTxt("echo:noOutputs", "echo returns %s", "nothing");
  for (int i = 0; i < nrhs; ++i) {
    char *text = hxArrayToString(prhs[i]);
    if (!text) extErrMsgTxt("echo takes text only");
    const std::string word(text);
    hxFree(text);
    if (word == "fail") extErrMsgIdAndTxt("echo:failed", "asked to fail at input %d", i + 1);
    if (word == "callerror") {
      // The arguments are released while the raised error unwinds.
      std::unique_ptr<hxArray, void (*)(hxArray *)> id(hxCreateString("echo:viaError"), hxDestroyArray);
      std::unique_ptr<hxArray, void (*)(hxArray *)> message(hxCreateString("100%% sure \\\\ here"), hxDestroyArray);
      hxArray *args[2] = {id.get(), message.get()};
      extCallCalvex(0, nullptr, 2, args, "error");
    }
    extPrintf("%s\n", word.c_str());
  }
}
