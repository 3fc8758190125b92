// The compiler command gateway's argument handling, through the substitute
// host: inputs of any class (char arrays of any units and shape, string
// scalars, numbers, structs) with "-D" and the compiler's own options in
// random places, into extFunction with the stand-in compiler. Everything
// runs in a scratch working directory with TMPDIR inside it, and no input
// can name a path outside it. No host allocation may outlive a call.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "calvex/host.h"
#include "zcc.h"

namespace {

namespace fs = std::filesystem;

const char *const kWords[] = {"-D", "-D", "-d", "-o", "-v", "-?", "a.m", "a.m", "missing.m", "out", "", "-x", "app"};

// Texts stay single names that cannot climb: separators become '_' and a
// leading '.' (as in "..") gets a '_' before it.
std::u16string confined(std::u16string text) {
  for (char16_t &c : text)
    if (c == u'/' || c == u'\\') c = u'_';
  if (!text.empty() && text[0] == u'.') text.insert(text.begin(), u'_');
  return text;
}

std::u16string fuzz_text(FuzzedDataProvider &in) {
  if (in.ConsumeBool()) return calvex::utf8_to_utf16(in.PickValueInArray(kWords));
  std::u16string text(in.ConsumeIntegralInRange<std::size_t>(0, 12), u'\0');
  for (char16_t &c : text)
    c = in.ConsumeBool() ? static_cast<char16_t>(in.ConsumeIntegral<uint16_t>())
                         : in.ConsumeIntegralInRange<char16_t>(0x20, 0x7e);
  return confined(text);
}

hxArray *char_array(const std::u16string &text, hxSize rows) {
  const hxSize cols = rows == 0 ? 0 : (text.size() + rows - 1) / rows;
  const hxSize dims[] = {rows, cols};
  hxArray *a = hxCreateCharArray(2, dims);
  auto *units = static_cast<hxChar *>(hxGetPr(a));
  for (hxSize i = 0; i < rows * cols && i < text.size() && units; ++i) units[i] = text[i];
  return a;
}

hxArray *fuzz_input(FuzzedDataProvider &in) {
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: return hxCreateDoubleScalar(in.ConsumeFloatingPoint<double>());
    case 1: {
      const hxSize dims[] = {1, in.ConsumeIntegralInRange<hxSize>(0, 3)};
      return hxCreateNumericArray(2, dims, hxUINT16_CLASS, in.ConsumeBool() ? hxCOMPLEX : hxREAL);
    }
    case 2: {
      const hxSize dims[] = {1, 1};
      return hxCreateStructArray(2, dims, 0, nullptr);
    }
    case 3: return char_array(fuzz_text(in), in.ConsumeIntegralInRange<hxSize>(0, 3));
    case 4:
    case 5: return hxCreateStringScalar(calvex::utf16_to_utf8(fuzz_text(in)).c_str());
    default: return char_array(fuzz_text(in), 1);
  }
}

// The scratch directory: one source file, and TMPDIR beneath it. It is
// also the working directory, so libFuzzer must be given absolute paths.
const fs::path &scratch() {
  static const fs::path *const dir = [] {
    std::string pattern = "/tmp/zcc-fuzz.XXXXXX";
    const auto *made = new fs::path(::mkdtemp(&pattern[0]));
    fs::create_directory(*made / "tmp");
    ::setenv("TMPDIR", (*made / "tmp").c_str(), 1);
    if (::chdir(made->c_str()) != 0) __builtin_trap();
    std::atexit([] { fs::remove_all(scratch()); });
    return made;
  }();
  return *dir;
}

// What a call wrote goes, so that each input starts from the same state.
void clean_scratch() {
  for (const fs::directory_entry &e : fs::directory_iterator(scratch()))
    if (e.path().filename() != "a.m" && e.path().filename() != "tmp") fs::remove_all(e.path());
  for (const fs::directory_entry &e : fs::directory_iterator(scratch() / "tmp")) fs::remove_all(e.path());
  if (std::FILE *f = std::fopen("a.m", "w")) {
    std::fputs("x = 1;\n", f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  clean_scratch();
  const std::size_t allocations = calvex::live_allocations();
  std::vector<hxArray *> inputs(in.ConsumeIntegralInRange<std::size_t>(0, 8));
  for (hxArray *&a : inputs) a = fuzz_input(in);
  const int nlhs = in.ConsumeIntegralInRange(0, 8) == 0 ? 1 : 0;
  hxArray *outputs[1] = {nullptr};
  std::vector<const hxArray *> prhs(inputs.begin(), inputs.end());
  calvex::call_boundary(
      [&] { extFunction(nlhs, outputs, static_cast<int>(prhs.size()), prhs.empty() ? nullptr : prhs.data()); });
  calvex::take_console();
  for (hxArray *a : inputs) hxDestroyArray(a);
  if (outputs[0]) hxDestroyArray(outputs[0]);
  if (calvex::live_allocations() != allocations) __builtin_trap();
  return 0;
}
