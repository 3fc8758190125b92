// Diagnostic loggers: one per channel, each with a mask of enabled
// levels, a write lock and a nesting depth per thread. Records go to the
// Boost.Log core with the attributes "Channel" (std::string), "Severity"
// (unsigned level), "NestingDepth" (int) and, when the writer adds them,
// "File" (std::string) and "Line" (int).
//
// Configuration comes from the environment when a logger is created:
//   CALVEX_DIAGNOSTIC_LEVELS  the mask of enabled levels, decimal or 0x-hex
//                             (0x60: trace entries and exits); unset: none
//   CALVEX_DIAGNOSTIC_LOG     the file records are appended to; unset:
//                             standard error
#ifndef FOUNDATION_LOG_H
#define FOUNDATION_LOG_H

#include <boost/log/core/core.hpp>
#include <boost/log/core/record.hpp>
#include <boost/thread/tss.hpp>
#include <mutex>
#include <string>

namespace foundation::log {

// Levels are single bits, so that a mask can enable any set of them.
enum level : unsigned {
  trace_entry = 0x20,
  trace_exit = 0x40,
};

constexpr const char *kLevelsVariable = "CALVEX_DIAGNOSTIC_LEVELS";
constexpr const char *kLogFileVariable = "CALVEX_DIAGNOSTIC_LOG";

// The mask a text gives ("96", "0x60"); 0 with `valid` false when the
// text is not a whole number.
unsigned parse_levels(const std::string &text, bool &valid);

// Instantiated for char.
template <typename CharT>
class basic_diagnostic_logger {
 public:
  // Levels from CALVEX_DIAGNOSTIC_LEVELS; when any is enabled, records of
  // the process also go to the configured destination.
  explicit basic_diagnostic_logger(std::string channel);
  // Exactly these levels; the caller decides where records go.
  basic_diagnostic_logger(std::string channel, unsigned levels);
  basic_diagnostic_logger(const basic_diagnostic_logger &) = delete;
  basic_diagnostic_logger &operator=(const basic_diagnostic_logger &) = delete;

  const std::string &channel() const noexcept { return channel_; }
  unsigned enabled_levels() const noexcept { return levels_; }

  // A record at `level`, opened under the write lock; empty (false) when
  // the level is not enabled or no sink wants the record.
  boost::log::record open_record(unsigned level);
  // Hands a record opened here to the sinks.
  void push_record(boost::log::record &&record);

  // The calling thread's nesting depth, 0 at first.
  int nesting_depth() const;
  void increase_nesting();
  void decrease_nesting();

 private:
  int &depth() const;

  std::string channel_;
  unsigned levels_;
  std::mutex write_lock_;
  mutable boost::thread_specific_ptr<int> depth_;
  boost::log::core_ptr core_;  // kept so that the core outlives this logger
};

extern template class basic_diagnostic_logger<char>;

}  // namespace foundation::log

#endif
