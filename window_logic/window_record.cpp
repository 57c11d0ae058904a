#include "window_record.h"

#include <chrono>

#include "va_ports.h"

namespace kvr {

std::string WindowRecord::Check(const std::string& image) const {
  return Enabled() ? CheckRecordFile(file_, image, "") : std::string();
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

WindowRecord::Failure WindowRecord::End(const std::string& result, int exit_code, const std::string& message,
                                        uint64_t commands, int retries,
                                        const std::function<bool(const std::string& holder)>& ask) {
  if (!open_) return {};
  open_ = false;
  LoadRecord& load = record_.loads[0];
  record_.ended = load.ended = std::chrono::system_clock::now();
  load.commands = commands;
  load.page_retries = retries;
  load.result = result;
  load.exit_code = record_.exit_code = exit_code;
  load.message = message;
  const std::string line = RecordLine(record_);
  // Another program's append takes milliseconds: a lock held longer is
  // named, and the operator says whether to wait on.
  auto ask_at = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  const AppendResult r = AppendRecord(file_, line, [&](const std::string& holder) {
    if (std::chrono::steady_clock::now() < ask_at) return true;
    if (!ask(holder)) return false;
    ask_at = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    return true;
  });
  if (r.written) return {};
  return {r.why, line};
}

}  // namespace kvr
