#include "progress.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

namespace vacli {

namespace {
constexpr int kWidth = 40;
}

ProgressBar::ProgressBar(std::string label, int64_t total, bool enabled)
    : label_(std::move(label)), total_(total > 0 ? total : 1), enabled_(enabled) {}

ProgressBar::~ProgressBar() {
  if (enabled_ && last_percent_ >= 0) std::fputc('\n', stderr);
}

void ProgressBar::update(int64_t done) {
  if (!enabled_) return;
  const int percent = static_cast<int>(100 * done / total_);
  if (percent == last_percent_) return;
  last_percent_ = percent;
  const int filled = kWidth * percent / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

std::function<void(const char *, int64_t, int64_t)> progress_bars(bool enabled) {
  if (!enabled) return {};
  struct Bars {
    std::unique_ptr<ProgressBar> bar;
    std::string pass;
  };
  auto bars = std::make_shared<Bars>();
  return [bars](const char *pass, int64_t done, int64_t total) {
    if (!bars->bar || bars->pass != pass) {
      bars->bar.reset();
      bars->bar = std::make_unique<ProgressBar>(pass, total, true);
      bars->pass = pass;
    }
    bars->bar->update(done);
  };
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace vacli
