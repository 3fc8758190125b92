#include "default_sink.h"

#include <boost/core/null_deleter.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/log/utility/formatting_ostream.hpp>
#include <boost/make_shared.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>

#include "foundation/log.h"

namespace foundation::log {

namespace {

namespace logging = boost::log;

std::string level_name(unsigned level) {
  if (level == trace_entry) return "entry";
  if (level == trace_exit) return "exit";
  return std::to_string(level);
}

void format_record(const logging::record_view &record, logging::formatting_ostream &out) {
  const auto channel = logging::extract<std::string>("Channel", record);
  const auto level = logging::extract<unsigned>("Severity", record);
  const auto depth = logging::extract<int>("NestingDepth", record);
  const auto file = logging::extract<std::string>("File", record);
  const auto line = logging::extract<int>("Line", record);
  out << (channel ? *channel : std::string("-")) << ' ' << (level ? level_name(*level) : std::string("-")) << ' ';
  if (file) out << *file << ':' << (line ? *line : 0) << ' ';
  out << std::string(static_cast<std::size_t>(depth ? 2 * *depth : 0), ' ');
  out << record[logging::expressions::smessage];
}

boost::shared_ptr<std::ostream> destination() {
  const char *path = std::getenv(kLogFileVariable);
  if (path && *path) {
    auto file = boost::make_shared<std::ofstream>(path, std::ios::app);
    if (*file) return file;
    std::fprintf(stderr, "warning: cannot open %s='%s'; diagnostics go to standard error\n", kLogFileVariable, path);
  }
  return boost::shared_ptr<std::ostream>(&std::clog, boost::null_deleter());
}

}  // namespace

void install_default_sink() {
  static std::once_flag once;
  std::call_once(once, [] {
    using Backend = logging::sinks::text_ostream_backend;
    auto backend = boost::make_shared<Backend>();
    backend->add_stream(destination());
    backend->auto_flush(true);
    auto sink = boost::make_shared<logging::sinks::synchronous_sink<Backend>>(backend);
    sink->set_formatter(&format_record);
    logging::core::get()->add_sink(sink);
  });
}

}  // namespace foundation::log
