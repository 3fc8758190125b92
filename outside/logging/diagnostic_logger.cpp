#include <boost/log/attributes/attribute_set.hpp>
#include <boost/log/attributes/constant.hpp>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "default_sink.h"
#include "foundation/log.h"

namespace foundation::log {

namespace {

unsigned configured_levels() {
  const char *text = std::getenv(kLevelsVariable);
  if (!text) return 0;
  bool valid = false;
  const unsigned levels = parse_levels(text, valid);
  if (!valid) std::fprintf(stderr, "warning: %s='%s' is not a number; diagnostics stay off\n", kLevelsVariable, text);
  return levels;
}

}  // namespace

unsigned parse_levels(const std::string &text, bool &valid) {
  char *end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  valid = !text.empty() && *end == '\0' && text[0] != '-' && value <= 0xFFFFFFFFul;
  return valid ? static_cast<unsigned>(value) : 0;
}

template <typename CharT>
basic_diagnostic_logger<CharT>::basic_diagnostic_logger(std::string channel)
    : basic_diagnostic_logger(std::move(channel), configured_levels()) {
  if (levels_ != 0) install_default_sink();
}

template <typename CharT>
basic_diagnostic_logger<CharT>::basic_diagnostic_logger(std::string channel, unsigned levels)
    : channel_(std::move(channel)), levels_(levels), core_(boost::log::core::get()) {}

template <typename CharT>
boost::log::record basic_diagnostic_logger<CharT>::open_record(unsigned level) {
  if ((levels_ & level) == 0) return boost::log::record();
  namespace attrs = boost::log::attributes;
  boost::log::attribute_set source;
  source.insert("Channel", attrs::make_constant(channel_));
  source.insert("Severity", attrs::make_constant(level));
  source.insert("NestingDepth", attrs::make_constant(nesting_depth()));
  std::lock_guard<std::mutex> guard(write_lock_);
  return core_->open_record(source);
}

template <typename CharT>
void basic_diagnostic_logger<CharT>::push_record(boost::log::record &&record) {
  core_->push_record(std::move(record));
}

template <typename CharT>
int &basic_diagnostic_logger<CharT>::depth() const {
  if (!depth_.get()) depth_.reset(new int(0));
  return *depth_;
}

template <typename CharT>
int basic_diagnostic_logger<CharT>::nesting_depth() const {
  return depth();
}

template <typename CharT>
void basic_diagnostic_logger<CharT>::increase_nesting() {
  ++depth();
}

template <typename CharT>
void basic_diagnostic_logger<CharT>::decrease_nesting() {
  if (depth() > 0) --depth();
}

template class basic_diagnostic_logger<char>;

}  // namespace foundation::log
