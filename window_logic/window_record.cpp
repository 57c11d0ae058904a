#include "window_record.h"

#include <chrono>

#include "va_ports.h"

namespace kvr {

base::Status WindowRecord::Check(const std::string& image) const {
  if (!Enabled()) return {};
  return CheckRecordFile(file_, image, "");
}

void WindowRecord::Begin(const ImageRecord& image, const std::string& port) {
  open_ = Enabled();
  if (!open_) return;
  record_ = RunRecord{};
  record_.tool = tool_;
  record_.started = std::chrono::system_clock::now();
  record_.image = image;
  LoadRecord load;
  load.port = port;
  load.device = va::DevicePathFor(port);
  load.identity = va::IdentifyPort(load.device);
  load.started = record_.started;
  record_.loads = {load};
}

void WindowRecord::End(const std::string& result, int exit_code, const std::string& message, uint64_t commands,
                       int retries) {
  if (!open_) return;
  open_ = false;
  LoadRecord& load = record_.loads[0];
  record_.ended = load.ended = std::chrono::system_clock::now();
  load.commands = commands;
  load.page_retries = retries;
  load.result = result;
  load.exit_code = record_.exit_code = exit_code;
  load.message = message;
  waiting_.push_back(RecordLine(record_));
}

WindowRecord::Written WindowRecord::Write() {
  Written w;
  while (!waiting_.empty()) {
    std::string holder;
    const base::Status appended = AppendRecord(file_, waiting_.front(), [&holder](const std::string& h) {
      holder = h;
      return false;  // no waiting here
    });
    if (!appended && appended.error().kind == base::FailureKind::kBusy) {
      w.busy = holder;
      return w;
    }
    if (!appended) w.failures.push_back({appended.error().text, waiting_.front()});
    waiting_.pop_front();
  }
  return w;
}

std::vector<WindowRecord::Failure> WindowRecord::GiveUp(const std::string& holder) {
  std::vector<Failure> failures;
  for (const std::string& line : waiting_)
    failures.push_back({"the record file " + file_ + " was still held by " + holder + " when the wait was ended", line});
  waiting_.clear();
  return failures;
}

}  // namespace kvr
