// A complete load in the terminal: an update file (made up, or given with
// --file) is opened as the window does it, then sent through the real
// exchange to the simulated boot loader; the device's image is compared with
// the file at the end. The protocol's pauses run on simulated time unless
// --real-time is given (a full load then takes about 35 minutes).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "boot_loader_device.h"
#include "command_link.h"
#include "exchange.h"
#include "hex_text.h"
#include "image_geometry.h"
#include "page_table.h"
#include "simulated_port.h"
#include "tool_options.h"
#include "update_file.h"
#include "update_file_maker.h"

namespace {

using namespace kvr;

class ConsoleUi final : public UpdateFileUi, public LoadView {
 public:
  void ClearLogs() override {}
  void WarnWrongSize() override { std::cout << "! " << kWrongFileMessage << "\n"; }
  void SetStatus(const std::string& caption) override {
    // Every 256th page, and whatever is not a page line, is worth a line.
    if (caption.rfind(kPageStatus, 0) != 0 || ++pages_ % 256 == 1) std::cout << caption << "\n";
  }
  void SetProgress(int percent) override { progress_ = percent; }
  void LoadEnded(LoadOutcome result, const std::string&) override { complete_ = result == LoadOutcome::kComplete; }

  int progress_ = 0;
  bool complete_ = false;

 private:
  int pages_ = 0;
};

// A private folder for the made-up image: created new (never one that is
// already there), removed at the end.
class PrivateFolder {
 public:
  PrivateFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto candidate = std::filesystem::temp_directory_path() / ("kvr-simload-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("cannot create a private folder for the image");
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
  }
  ~PrivateFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path File(const char* name) const { return path_ / name; }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

 private:
  std::filesystem::path path_;
};

}  // namespace

int main(int argc, char** argv) {
  // Each line as it is written: a real-time load runs for half an hour, and a
  // pipe or file would otherwise see nothing of it until the end (or, after
  // Ctrl-C, never).
  std::cout.setf(std::ios::unitbuf);
  std::string path;
  int pieces = 1;
  bool real_time = false;
  CLI::App app(
      "A complete load in the terminal into the simulated boot loader; the device's image is compared "
      "with the file at the end.",
      "kvr-simload");
  app.set_version_flag("-v,--version", "kvr-simload " KVR_VERSION, "Show the version and exit.");
  app.add_option("--file", path, "The update file (default: a made-up standard image in a private temporary folder).");
  app.add_option("--pieces", pieces, "Each reply in this many pieces.")->check(WholeNumber(1, 1024));
  app.add_flag("--real-time", real_time, "Real pauses (a full load then takes about 35 minutes).");
  if (const std::optional<int> ended = ParseToolOptions(app, argc, argv)) return *ended;

  try {
    std::unique_ptr<PrivateFolder> folder;
    if (path.empty()) {
      folder = std::make_unique<PrivateFolder>();
      path = folder->File("STANDARD.KVR").string();
      sim::WriteFile(path, sim::MakeUpdateFileText(2026));
    }

    ConsoleUi ui;
    PageTable table;
    table.SetupHeadings();
    UpdateFileState file;
    std::cout << "Update file: " << WithoutControls(path) << "\n";
    if (!OpenUpdateFile(path, table, file, ui)) {
      std::cerr << "not an update file (extension .KVR expected)\n";
      return 2;
    }
    // A refused file (over 64 MiB) is never read into memory.
    if (!file.Opened) {
      std::cerr << "refused: an update file is at most 64 MiB\n";
      return 1;
    }
    const std::string text = sim::ReadFile(path);
    folder.reset();  // the made-up image is read: nothing is left behind, even if the load is interrupted
    std::cout << "Size " << file.UpdateFileSize << " bytes, " << file.FileLineCount << " data lines\n";

    sim::DeviceOptions options;
    options.pieces = pieces;
    sim::BootLoaderDevice device(options);
    sim::SimulatedPort port(device);
    sim::SteppingTicks simulated;
    SystemTicks system;
    TickSource& ticks = real_time ? static_cast<TickSource&>(system) : simulated;
    CommandLink link(port, ticks);
    Exchange exchange(link, table, file, ui);
    uint64_t replies = 0;
    link.on_reply = [&](std::string_view reply) {
      ++replies;
      exchange.OnReply(reply);
    };

    // Each command goes out once its pause is over: on the simulated clock
    // that moves with every reading, or slept on the system's.
    const auto send_due = [&] {
      while (link.SendWaiting()) {
        const int64_t ms = link.MsUntilSend();
        if (real_time && ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        link.SendIfDue();
      }
    };
    // The load starts, the start timer sends the opening command.
    ui.complete_ = false;
    exchange.Open();
    send_due();
    while (port.Pump([&](int count) { link.OnRxChar(count); }) > 0) send_due();

    const bool complete = ui.complete_ && exchange.LineCounter() >= ImageLines;
    std::cout << "Commands received by the device: " << device.FramesReceived() << ", replies handled: " << replies
              << ", bytes sent: " << port.BytesWritten() << "\n";
    if (!real_time) {
      const uint64_t s = simulated.ElapsedMs() / 1000;
      std::cout << "Simulated line time: " << s / 60 << " min " << s % 60 << " s\n";
    }
    std::cout << "Gauge: " << ui.progress_ << "%, load " << (complete ? "complete" : "NOT complete") << "\n";

    const std::vector<uint8_t> expected = sim::ImageFromUpdateText(text);
    const bool equal = complete && !expected.empty() && device.Image() == expected;
    std::cout << "Device image equal to the file: " << (equal ? "yes" : "NO") << "\n";
    return equal ? 0 : 1;
  } catch (const EInOutError& e) {
    std::cerr << "error: " << WithoutControls(path + ": " + e.Reason()) << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "error: " << WithoutControls(e.what()) << "\n";
    return 1;
  }
}
