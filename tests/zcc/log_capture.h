// A Boost.Log sink that keeps the records of one channel for inspection,
// attached to the core for the life of the object.
#ifndef ZCC_TESTS_LOG_CAPTURE_H
#define ZCC_TESTS_LOG_CAPTURE_H

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/make_shared.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace zcc_test {

struct CapturedRecord {
  unsigned level = 0;
  int depth = -1;
  std::string file;
  int line = 0;
  std::string message;
};

class CaptureBackend : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
 public:
  explicit CaptureBackend(std::string channel) : channel_(std::move(channel)) {}
  void consume(const boost::log::record_view &record) {
    namespace logging = boost::log;
    if (logging::extract_or_default<std::string>("Channel", record, std::string()) != channel_) return;
    CapturedRecord captured;
    captured.level = logging::extract_or_default<unsigned>("Severity", record, 0u);
    if (fail_on_level_ == captured.level) throw std::runtime_error("sink failure");
    captured.depth = logging::extract_or_default<int>("NestingDepth", record, -1);
    captured.file = logging::extract_or_default<std::string>("File", record, std::string());
    captured.line = logging::extract_or_default<int>("Line", record, 0);
    captured.message = logging::extract_or_default<std::string>("Message", record, std::string());
    records.push_back(captured);
  }
  // Makes the sink throw for records of this level.
  void fail_on(unsigned level) { fail_on_level_ = level; }

  std::vector<CapturedRecord> records;

 private:
  std::string channel_;
  unsigned fail_on_level_ = 0;
};

class LogCapture {
 public:
  explicit LogCapture(const std::string &channel)
      : backend_(boost::make_shared<CaptureBackend>(channel)),
        sink_(boost::make_shared<boost::log::sinks::synchronous_sink<CaptureBackend>>(backend_)) {
    boost::log::core::get()->add_sink(sink_);
  }
  ~LogCapture() { boost::log::core::get()->remove_sink(sink_); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  const std::vector<CapturedRecord> &records() const { return backend_->records; }
  CaptureBackend &backend() { return *backend_; }

 private:
  boost::shared_ptr<CaptureBackend> backend_;
  boost::shared_ptr<boost::log::sinks::synchronous_sink<CaptureBackend>> sink_;
};

}  // namespace zcc_test

#endif
