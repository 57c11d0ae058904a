// The window's record of its loads: begun when a load's port has opened,
// appended to the record file when the load ends. Nothing here waits for the
// file's lock: a record whose file another writer holds waits here, and the
// window tries again on a timer.
#pragma once

#include <cstdint>
#include <functional>
#include <deque>
#include <string>
#include <vector>

#include "load_record.h"

namespace kvr {

class WindowRecord {
 public:
  // `file` is the record file ("" records nothing); `tool` the program and
  // version named in each record.
  WindowRecord(std::string file, std::string tool) : file_(std::move(file)), tool_(std::move(tool)) {}

  bool Enabled() const { return !file_.empty(); }
  // Whether the record of a load of `image` can be written; the failure says why not.
  base::Status Check(const std::string& image) const;
  // A load of `image` began on `port`: the file as it was read into the
  // table (its size and SHA-256), and whether the grid changed it since.
  void Begin(const ImageRecord& image, const std::string& port);
  // The load ended: its record waits to be written (Write).
  void End(const std::string& result, int exit_code, const std::string& message, uint64_t commands, int retries);

  // A record that could not be written: why, and its line.
  struct Failure {
    std::string why;
    std::string line;
    explicit operator bool() const { return !why.empty(); }
  };
  // One try at writing the waiting records, without waiting for a lock:
  // `busy` names the writer that holds the file when one does (the records
  // then still wait; try again later), and `failures` the records that could
  // not be written and are given up.
  struct Written {
    std::string busy;
    std::vector<Failure> failures;
  };
  Written Write();
  // Records still waiting for the file.
  bool Waiting() const { return !waiting_.empty(); }
  // Gives up the waiting records: the file is still held by `holder`.
  std::vector<Failure> GiveUp(const std::string& holder);

 private:
  std::string file_, tool_;
  bool open_ = false;
  RunRecord record_;
  std::deque<std::string> waiting_;  // record lines not yet in the file, oldest first
};

}  // namespace kvr
