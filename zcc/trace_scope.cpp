#include "trace_scope.h"

#include <boost/log/attributes/attribute_value_impl.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <exception>
#include <string>
#include <utility>

namespace {

DiagnosticLogger module_logger("deployment::zcc_ext");

}  // namespace

DiagnosticLogger &zcc_logger() { return module_logger; }

TraceScope::TraceScope(DiagnosticLogger &logger, const char *signature, const char *file, int line)
    : logger_(logger), active_((logger.enabled_levels() & foundation::log::trace_entry) != 0), signature_(signature),
      file_(file), line_(line) {
  if (!active_) return;
  write(foundation::log::trace_entry, false);
  logger_.increase_nesting();
}

TraceScope::~TraceScope() {
  if (!active_) return;
  // A trace record is never worth a second failure.
  try {
    logger_.decrease_nesting();
    write(foundation::log::trace_exit, std::uncaught_exceptions() != 0);
  } catch (...) {
  }
}

void TraceScope::write(unsigned level, bool thrown) {
  boost::log::record record = logger_.open_record(level);
  if (!record) return;
  namespace attrs = boost::log::attributes;
  record.attribute_values().insert("File", attrs::make_attribute_value(std::string(file_)));
  record.attribute_values().insert("Line", attrs::make_attribute_value(line_));
  {
    boost::log::record_ostream text(record);
    text << signature_;
    if (thrown) text << " [throw]";
  }
  logger_.push_record(std::move(record));
}
