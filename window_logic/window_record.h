// The window's record of its loads: begun when a load's port has opened,
// appended to the record file when the load ends.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "load_record.h"

namespace kvr {

class WindowRecord {
 public:
  // `file` is the record file ("" records nothing); `tool` the program and
  // version named in each record.
  WindowRecord(std::string file, std::string tool) : file_(std::move(file)), tool_(std::move(tool)) {}

  bool Enabled() const { return !file_.empty(); }
  // Why the record of a load of `image` could not be written ("" when it can).
  std::string Check(const std::string& image) const;
  // A load of `image` began on `port`: the file as it was read into the
  // table (its size and SHA-256), and whether the grid changed it since.
  void Begin(const ImageRecord& image, const std::string& port);
  // The load ended; `ask` is the question whether to wait on for a record
  // file another writer holds (true: wait). Returns "" when the record was
  // written (or none was begun), else why not and the record's line.
  struct Failure {
    std::string why;
    std::string line;
    explicit operator bool() const { return !why.empty(); }
  };
  Failure End(const std::string& result, int exit_code, const std::string& message, uint64_t commands, int retries,
              const std::function<bool(const std::string& holder)>& ask);

 private:
  std::string file_, tool_;
  bool open_ = false;
  RunRecord record_;
};

}  // namespace kvr
