// A progress bar on standard error, drawn only when asked to.
#ifndef VOLACCESS_TOOLS_PROGRESS_H
#define VOLACCESS_TOOLS_PROGRESS_H

#include <cstdint>
#include <functional>
#include <string>

namespace vacli {

class ProgressBar {
 public:
  ProgressBar(std::string label, int64_t total, bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar &) = delete;
  ProgressBar &operator=(const ProgressBar &) = delete;

  void update(int64_t done);

 private:
  std::string label_;
  int64_t total_;
  bool enabled_;
  int last_percent_ = -1;
};

// A progress report for the engine's passes: one bar a pass, replaced
// when the next pass starts; an empty function when not enabled.
std::function<void(const char *pass, int64_t done, int64_t total)> progress_bars(bool enabled);

// True when standard error is a terminal, where a bar can be redrawn.
bool stderr_is_terminal();

}  // namespace vacli

#endif
