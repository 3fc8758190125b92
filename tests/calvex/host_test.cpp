// The substitute host: values, the call boundary, host functions, the
// console, allocation accounting and loading a real extension module.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "calvex/host.h"

namespace {

TEST(Values, NumericArraysAreColumnMajorWithNormalisedSizes) {
  const hxSize dims[4] = {2, 3, 4, 1};
  hxArray *a = hxCreateNumericArray(4, dims, hxINT16_CLASS, hxREAL);
  EXPECT_EQ(hxGetNumberOfDimensions(a), 3u);
  EXPECT_EQ(hxGetM(a), 2u);
  EXPECT_EQ(hxGetN(a), 12u);
  EXPECT_EQ(hxGetNumberOfElements(a), 24u);
  EXPECT_EQ(hxGetElementSize(a), 2u);
  EXPECT_TRUE(hxIsNumeric(a));
  EXPECT_TRUE(hxIsInt16(a));
  EXPECT_FALSE(hxIsUint16(a));
  EXPECT_FALSE(hxIsComplex(a));
  const auto *p = static_cast<const int16_t *>(hxGetPr(a));
  for (int e = 0; e < 24; ++e) EXPECT_EQ(p[e], 0);
  hxDestroyArray(a);

  const hxSize one[1] = {5};
  hxArray *v = hxCreateNumericArray(1, one, hxDOUBLE_CLASS, hxCOMPLEX);
  EXPECT_EQ(hxGetNumberOfDimensions(v), 2u);
  EXPECT_EQ(hxGetN(v), 1u);
  EXPECT_TRUE(hxIsComplex(v));
  EXPECT_NE(hxGetPi(v), nullptr);
  hxDestroyArray(v);
}

TEST(Values, EveryClassAnswersOnlyItsOwnTest) {
  using ClassTest = bool (*)(const hxArray *);
  const std::array<std::pair<hxClassID, ClassTest>, 10> classes = {{{hxDOUBLE_CLASS, hxIsDouble},
                                                                    {hxSINGLE_CLASS, hxIsSingle},
                                                                    {hxINT8_CLASS, hxIsInt8},
                                                                    {hxUINT8_CLASS, hxIsUint8},
                                                                    {hxINT16_CLASS, hxIsInt16},
                                                                    {hxUINT16_CLASS, hxIsUint16},
                                                                    {hxINT32_CLASS, hxIsInt32},
                                                                    {hxUINT32_CLASS, hxIsUint32},
                                                                    {hxINT64_CLASS, hxIsInt64},
                                                                    {hxUINT64_CLASS, hxIsUint64}}};
  const hxSize dims[2] = {1, 1};
  for (auto [cls, own] : classes) {
    hxArray *a = hxCreateNumericArray(2, dims, cls, hxREAL);
    for (auto [other, test] : classes) EXPECT_EQ(test(a), other == cls) << cls << " " << other;
    hxDestroyArray(a);
  }
  hxArray *logical = hxCreateLogicalArray(2, dims);
  EXPECT_TRUE(hxIsLogical(logical));
  EXPECT_FALSE(hxIsNumeric(logical));
  hxDestroyArray(logical);
  hxArray *sparse = hxCreateSparse(3, 3);
  EXPECT_TRUE(hxIsSparse(sparse));
  EXPECT_TRUE(hxIsDouble(sparse));
  hxDestroyArray(sparse);
}

TEST(Values, CharArraysHoldUtf16AndConvertBack) {
  hxArray *s = hxCreateString("h\xC3\xA9llo \xF0\x9F\x99\x82");
  EXPECT_TRUE(hxIsChar(s));
  EXPECT_FALSE(hxIsNumeric(s));
  EXPECT_EQ(hxGetM(s), 1u);
  EXPECT_EQ(hxGetN(s), 8u);  // the emoji takes two units
  EXPECT_EQ(static_cast<const hxChar *>(hxGetPr(s))[1], 0xE9);
  const std::size_t before = calvex::live_allocations();
  char *text = hxArrayToString(s);
  EXPECT_EQ(calvex::live_allocations(), before + 1);
  EXPECT_STREQ(text, "h\xC3\xA9llo \xF0\x9F\x99\x82");
  hxFree(text);
  EXPECT_EQ(calvex::live_allocations(), before);
  hxDestroyArray(s);

  hxArray *number = hxCreateDoubleScalar(3);
  EXPECT_EQ(hxArrayToString(number), nullptr);
  hxDestroyArray(number);

  hxArray *scalar = hxCreateStringScalar("abc");
  hxSize n = 0;
  const hxChar *units = hxGetStringScalar(scalar, &n);
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(units[2], u'c');
  EXPECT_FALSE(hxIsChar(scalar));
  hxDestroyArray(scalar);
}

TEST(Values, MalformedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(calvex::utf8_to_utf16("a\xFF"
                                  "b"),
            u"a\uFFFDb");
  EXPECT_EQ(calvex::utf8_to_utf16("\xC3"), u"\uFFFD");
  EXPECT_EQ(calvex::utf16_to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Values, StructFieldsAreNullWhenMissingOrEmpty) {
  const hxSize dims[2] = {1, 2};
  const char *names[2] = {"a", "b"};
  hxArray *s = hxCreateStructArray(2, dims, 2, names);
  EXPECT_TRUE(hxIsStruct(s));
  EXPECT_EQ(hxGetNumberOfFields(s), 2);
  hxSetField(s, 1, "a", hxCreateDoubleScalar(7));
  hxSetField(s, 0, "b", hxCreateDoubleMatrix(0, 3, hxREAL));
  hxSetField(s, 0, "c", hxCreateString("new field"));
  EXPECT_EQ(hxGetNumberOfFields(s), 3);
  EXPECT_STREQ(hxGetFieldNameByNumber(s, 2), "c");
  EXPECT_EQ(hxGetField(s, 0, "a"), nullptr);        // never set
  EXPECT_EQ(hxGetField(s, 0, "b"), nullptr);        // empty value
  EXPECT_EQ(hxGetField(s, 0, "missing"), nullptr);  // no such field
  EXPECT_EQ(hxGetField(s, 2, "a"), nullptr);        // no such element
  ASSERT_NE(hxGetField(s, 1, "a"), nullptr);
  EXPECT_EQ(*static_cast<double *>(hxGetPr(hxGetField(s, 1, "a"))), 7.0);
  ASSERT_NE(hxGetField(s, 0, "c"), nullptr);
  hxSetField(s, 1, "a", hxCreateDoubleScalar(8));  // replaces and destroys the old value
  EXPECT_EQ(*static_cast<double *>(hxGetPr(hxGetField(s, 1, "a"))), 8.0);
  EXPECT_EQ(hxGetField(hxGetField(s, 1, "a"), 0, "a"), nullptr);
  hxDestroyArray(s);
}

TEST(Gateway, RaisedErrorsEndTheCallWithIdentifierAndMessage) {
  calvex::CallResult r = calvex::call_boundary([] { extErrMsgIdAndTxt("a:b", "value %d of %s", 3, "x"); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.identifier, "a:b");
  EXPECT_EQ(r.message, "value 3 of x");
  r = calvex::call_boundary([] { extErrMsgTxt("plain"); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.identifier, "");
  EXPECT_EQ(r.message, "plain");
  EXPECT_TRUE(calvex::call_boundary([] {}).ok);
}

TEST(Gateway, ErrorFunctionUndoublesPercentAndBackslash) {
  hxArray *args[2] = {hxCreateString("x:y"), hxCreateString("50%% off C:\\\\dir %s \\n")};
  calvex::CallResult r = calvex::call_boundary([&] { extCallCalvex(0, nullptr, 2, args, "error"); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.identifier, "x:y");
  EXPECT_EQ(r.message, "50% off C:\\dir %s \\n");
  for (hxArray *a : args) hxDestroyArray(a);
}

TEST(Gateway, RegisteredFunctionsAreCalledAndUnknownOnesRaise) {
  std::string seen;
  calvex::register_function("note", [&](int, hxArray *[], int nrhs, hxArray *prhs[]) {
    for (int i = 0; i < nrhs; ++i) {
      char *t = hxArrayToString(prhs[i]);
      seen += t;
      seen += ';';
      hxFree(t);
    }
  });
  EXPECT_EQ(extEvalString("note alpha beta"), 0);
  EXPECT_EQ(seen, "alpha;beta;");
  EXPECT_EQ(extEvalString("nosuchfunction x"), 1);
  calvex::unregister_function("note");
  calvex::CallResult r = calvex::call_boundary([] { extCallCalvex(0, nullptr, 0, nullptr, "note"); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.identifier, "Calvex:UndefinedFunction");
}

TEST(Gateway, ConsoleKeepsPrintedTextUntilTaken) {
  calvex::take_console();
  EXPECT_EQ(extPrintf("%d-%s\n", 42, "x"), 5);
  EXPECT_EQ(ext_putsn("abcdef", 3), 3);
  EXPECT_EQ(ext_putsn("ignored", 0), 0);
  EXPECT_EQ(calvex::take_console(), "42-x\nabc");
  EXPECT_EQ(calvex::take_console(), "");
}

TEST(Gateway, AllocatorCountsLiveBlocks) {
  const std::size_t before = calvex::live_allocations();
  auto *p = static_cast<unsigned char *>(hxCalloc(10, 4));
  for (int i = 0; i < 40; ++i) EXPECT_EQ(p[i], 0);
  void *empty = hxCalloc(0, 8);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(calvex::live_allocations(), before + 2);
  hxFree(p);
  hxFree(empty);
  hxFree(nullptr);
  EXPECT_EQ(calvex::live_allocations(), before);
}

std::array<hxArray *, 3> words(const char *a, const char *b, const char *c) {
  return {hxCreateString(a), hxCreateString(b), hxCreateString(c)};
}

TEST(Modules, LoadedModuleRunsAndReportsItsVersion) {
  calvex::Module module(ECHO_MODULE);
  EXPECT_EQ(module.release(), 0x2302u);
  EXPECT_EQ(module.api_version(), 0x08000000u);
  auto args = words("one", "two", "three");
  const hxArray *inputs[3] = {args[0], args[1], args[2]};
  calvex::take_console();
  EXPECT_TRUE(module.call(0, nullptr, 3, inputs).ok);
  EXPECT_EQ(calvex::take_console(), "one\ntwo\nthree\n");

  calvex::CallResult r = module.call(1, nullptr, 3, inputs);
  EXPECT_EQ(r.identifier, "echo:noOutputs");
  EXPECT_EQ(r.message, "echo returns nothing");
  for (hxArray *a : args) hxDestroyArray(a);

  args = words("ok", "fail", "never");
  const hxArray *failing[3] = {args[0], args[1], args[2]};
  r = module.call(0, nullptr, 3, failing);
  EXPECT_EQ(r.identifier, "echo:failed");
  EXPECT_EQ(r.message, "asked to fail at input 2");
  EXPECT_EQ(calvex::take_console(), "ok\n");
  for (hxArray *a : args) hxDestroyArray(a);
}

TEST(Modules, ErrorsRaisedThroughHostFunctionsUnwindOutOfTheModule) {
  calvex::Module module(ECHO_MODULE);
  const std::size_t before = calvex::live_allocations();
  hxArray *arg = hxCreateString("callerror");
  const hxArray *inputs[1] = {arg};
  calvex::CallResult r = module.call(0, nullptr, 1, inputs);
  EXPECT_EQ(r.identifier, "echo:viaError");
  EXPECT_EQ(r.message, "100% sure \\ here");
  EXPECT_EQ(calvex::live_allocations(), before);
  hxDestroyArray(arg);
}

TEST(Modules, MissingObjectIsAClearError) {
  try {
    calvex::Module module("/nonexistent/module.so");
    FAIL() << "loading a missing module succeeded";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/module.so"), std::string::npos);
  }
}

std::string run(const std::string &command, int *status) {
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  std::string out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  *status = WEXITSTATUS(pclose(pipe));
  return out;
}

TEST(HostProgram, PassesArgumentsAndReportsErrors) {
  int status = -1;
  EXPECT_EQ(run(std::string(CALVEX_HOST) + " " + ECHO_MODULE + " a 'b c'", &status), "a\nb c\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(run(std::string(CALVEX_HOST) + " " + ECHO_MODULE + " a fail", &status),
            "a\nError (echo:failed): asked to fail at input 2\n");
  EXPECT_EQ(status, 1);
  EXPECT_NE(run(std::string(CALVEX_HOST) + " /nonexistent.so", &status).find("/nonexistent.so"), std::string::npos);
  EXPECT_EQ(status, 1);
}

}  // namespace
