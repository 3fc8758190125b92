// The gateway half: raised errors, the console, host functions, the
// allocator's accounting, the call boundary and module loading.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "calvex/host.h"

namespace {

std::string &console_buffer() {
  static std::string buffer;
  return buffer;
}

bool &console_echo() {
  static bool echo = false;
  return echo;
}

void console_write(const char *text, std::size_t n) {
  console_buffer().append(text, n);
  if (console_echo()) {
    std::fwrite(text, 1, n, stdout);
    std::fflush(stdout);
  }
}

std::string vformat(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(&out[0], out.size(), format, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::unordered_map<void *, std::size_t> &live_blocks() {
  static std::unordered_map<void *, std::size_t> blocks;
  return blocks;
}

// The volume library may map volumes from several threads at once, so the
// allocator's accounting is locked.
std::mutex &live_blocks_lock() {
  static std::mutex lock;
  return lock;
}

std::map<std::string, calvex::HostFunction> &registry();

std::string char_text(const hxArray *a) {
  char *s = hxArrayToString(a);
  if (!s) {
    hxSize n = 0;
    const hxChar *units = hxGetStringScalar(a, &n);
    if (!units) return std::string();
    return calvex::utf16_to_utf8(std::u16string(reinterpret_cast<const char16_t *>(units), n));
  }
  std::string text(s);
  hxFree(s);
  return text;
}

// The message of the host function `error` is a format in which "%%"
// stands for "%" and "\\" for "\"; everything else is kept as written.
std::string unescape_error_text(const std::string &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((text[i] == '%' || text[i] == '\\') && i + 1 < text.size() && text[i + 1] == text[i]) ++i;
    out += text[i];
  }
  return out;
}

// error(message) or error(identifier, message): raises a host error.
void host_error(int, hxArray *[], int nrhs, hxArray *prhs[]) {
  if (nrhs < 1) throw calvex::HostError{"Calvex:error:notEnoughInputs", "Not enough input arguments."};
  if (nrhs == 1) throw calvex::HostError{"", unescape_error_text(char_text(prhs[0]))};
  throw calvex::HostError{char_text(prhs[0]), unescape_error_text(char_text(prhs[1]))};
}

std::map<std::string, calvex::HostFunction> &registry() {
  static std::map<std::string, calvex::HostFunction> functions{{"error", host_error}};
  return functions;
}

}  // namespace

extern "C" {

void *hxCalloc(size_t n, size_t size) {
  void *p = std::calloc(n == 0 ? 1 : n, size == 0 ? 1 : size);
  if (!p) return p;
  const std::lock_guard<std::mutex> hold(live_blocks_lock());
  live_blocks()[p] = n * size;
  return p;
}

void hxFree(void *p) {
  if (!p) return;
  std::unique_lock<std::mutex> hold(live_blocks_lock());
  const bool known = live_blocks().erase(p) != 0;
  hold.unlock();
  if (!known) {
    std::fprintf(stderr, "hxFree: %p was not allocated by hxCalloc\n", p);
    std::abort();
  }
  std::free(p);
}

void extErrMsgTxt(const char *message) { throw calvex::HostError{"", message ? message : ""}; }

void extErrMsgIdAndTxt(const char *identifier, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vformat(format, args);
  va_end(args);
  throw calvex::HostError{identifier ? identifier : "", message};
}

int extPrintf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat(format, args);
  va_end(args);
  console_write(text.data(), text.size());
  return static_cast<int>(text.size());
}

int ext_putsn(const char *text, int length) {
  if (!text || length <= 0) return 0;
  console_write(text, static_cast<std::size_t>(length));
  return length;
}

int extCallCalvex(int nlhs, hxArray *plhs[], int nrhs, hxArray *prhs[], const char *name) {
  auto it = registry().find(name ? name : "");
  if (it == registry().end())
    throw calvex::HostError{"Calvex:UndefinedFunction",
                            std::string("Undefined function '") + (name ? name : "") + "'."};
  it->second(nlhs, plhs, nrhs, prhs);
  return 0;
}

int extEvalString(const char *command) {
  std::istringstream words(command ? command : "");
  std::string name;
  words >> name;
  auto it = registry().find(name);
  if (it == registry().end()) return 1;
  std::vector<hxArray *> args;
  for (std::string w; words >> w;) args.push_back(hxCreateString(w.c_str()));
  try {
    it->second(0, nullptr, static_cast<int>(args.size()), args.data());
  } catch (...) {
    for (hxArray *a : args) hxDestroyArray(a);
    throw;
  }
  for (hxArray *a : args) hxDestroyArray(a);
  return 0;
}

}  // extern "C"

namespace calvex {

CallResult call_boundary(const std::function<void()> &body) {
  try {
    body();
  } catch (const HostError &e) {
    return CallResult{false, e.identifier, e.message};
  }
  return CallResult{};
}

void register_function(const std::string &name, HostFunction fn) { registry()[name] = std::move(fn); }
void unregister_function(const std::string &name) { registry().erase(name); }

std::string take_console() {
  std::string text;
  text.swap(console_buffer());
  return text;
}

void set_console_echo(bool echo) { console_echo() = echo; }

std::size_t live_allocations() {
  const std::lock_guard<std::mutex> hold(live_blocks_lock());
  return live_blocks().size();
}

Module::Module(const std::string &path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error("cannot load extension module " + path + ": " + dlerror());
  entry_ = reinterpret_cast<extFunctionType>(dlsym(handle_, "extFunction"));
  if (!entry_) {
    dlclose(handle_);
    throw std::runtime_error("extension module " + path + " does not export extFunction");
  }
  if (auto version = reinterpret_cast<extApiVersionType>(dlsym(handle_, "extfilerequiredapiversion")))
    version(&release_, &api_version_);
}

Module::~Module() { dlclose(handle_); }

CallResult Module::call(int nlhs, hxArray *plhs[], int nrhs, const hxArray *prhs[]) {
  return call_boundary([&] { entry_(nlhs, plhs, nrhs, prhs); });
}

}  // namespace calvex
