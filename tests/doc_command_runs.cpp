#include "doc_command_runs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "child_process.h"
#include "command_words.h"
#include "output_shape.h"
#include "pty_device.h"
#include "serial_server.h"
#include "test_support.h"
#include "update_file_maker.h"

namespace kvr::docs {
namespace {

const std::string kProgramDir = KVR_PROGRAM_DIR;
constexpr int kBoundMs = 5000;        // a command still running then is interrupted (SIGINT)
constexpr int kWindowBoundMs = 3000;  // the window: SIGTERM
constexpr int kShownBoundMs = 60000;  // a "$ " command whose output is shown: that output is how it ends
constexpr int kGraceMs = 20000;       // to end after the signal, then it is killed
constexpr int kWorkers = 5;           // commands run at once (the loads mostly sleep in their pauses)
// One load's record, as a record file holds it.
const std::string kRecordLine =
    "{\"kvr_loader_record\":1,\"tool\":\"kvr-loader-cli 1.0.0\",\"started\":\"2026-12-09T06:56:45.906Z\","
    "\"ended\":\"2026-12-09T06:56:50.287Z\",\"exit_code\":0,\"image\":{\"file\":\"FW.KVR\",\"size\":1253378,"
    "\"sha256\":\"f8513aa75819bbe7756af34303f946fd4b9c9cc062642eb9c60987404bcac130\"},\"loads\":[{\"port\":"
    "\"sim1\",\"device\":\"/dev/pts/1\",\"by_id\":null,\"usb\":null,\"started\":\"2026-12-09T06:56:45.906Z\","
    "\"ended\":\"2026-12-09T06:56:50.287Z\",\"commands\":41474,\"page_retries\":0,\"result\":\"complete\","
    "\"exit_code\":0,\"message\":\"load complete\"}]}\n";

// --------------------------------------------------------- stand-ins and runs

// A serial device a command names: /dev/ttyUSB0, bare ttyUSB0, a by-id name, a serial server's URL.
const std::regex kDevice(
    R"(/dev/serial/by-id/[^\s'"#]+|/dev/tty(USB|ACM|S)[0-9]+|\btty(USB|ACM|S)[0-9]+|\b(rfc2217|socket)://[^\s'"#]+)");

std::set<std::string> DevicesIn(const std::string& text) {
  std::set<std::string> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kDevice); it != std::sregex_iterator(); ++it)
    out.insert(it->str());
  return out;
}

// The file names ending in .KVR (any case) among a simple command's words.
std::vector<std::string> ImageNames(const std::vector<std::string>& words) {
  std::vector<std::string> out;
  for (const std::string& w : words) {
    std::string name = w;
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '\'' || c == '"'; }), name.end());
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".KVR") == 0) out.push_back(name);
  }
  return out;
}

bool Makes(const std::vector<std::string>& segment) {  // writes the images it names
  return !segment.empty() && (Base(segment[0]) == "kvr-makefile" || (Base(segment[0]) == "kvr-loader-cli" &&
                                                                     segment.size() > 1 && segment[1] == "make-image"));
}

bool IsLoad(const std::vector<std::string>& segment) {
  return segment.size() > 1 && Base(segment[0]) == "kvr-loader-cli" && segment[1] == "load" &&
         std::find(segment.begin(), segment.end(), "--help") == segment.end() &&
         std::find(segment.begin(), segment.end(), "--version") == segment.end();
}

// What `--opt V` or `--opt=V` gives in a simple command's words, each time it is given.
std::vector<std::string> OptionValues(const std::vector<std::string>& words, const std::string& option) {
  std::vector<std::string> out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == option && i + 1 < words.size()) out.push_back(words[i + 1]);
    if (words[i].rfind(option + "=", 0) == 0) out.push_back(words[i].substr(option.size() + 1));
  }
  return out;
}

// The ports a load goes to, as its standard error labels them; one port is not labelled.
std::vector<std::string> LoadPorts(const std::vector<std::string>& load, const std::string& dir) {
  std::vector<std::string> ports = OptionValues(load, "--port");
  for (const std::string& list : OptionValues(load, "--ports-from"))
    for (const std::string& line : Lines(sim::ReadFile(dir + "/" + list)))
      if (const std::string port = Trim(SplitComment(line).code); !port.empty()) ports.push_back(port);
  if (std::find(load.begin(), load.end(), "--simulate") != load.end()) {
    const std::vector<std::string> n = OptionValues(load, "--simulate-devices");
    ports.clear();
    for (int i = 1; i <= (n.empty() ? 1 : std::atoi(n.back().c_str())); ++i) ports.push_back("sim" + std::to_string(i));
  }
  return ports;
}

// Standard error shows a load under way: a page for one port, one per port for several.
std::string NotLoading(const std::string& err, const std::vector<std::string>& ports) {
  static const std::regex kPage("page [0-9]{4}");
  if (ports.size() <= 1) return std::regex_search(err, kPage) ? "" : "no page on standard error";
  std::string missing;
  for (const std::string& port : ports) {
    bool found = false;
    for (const std::string& line : Lines(err))
      found = found || (line.rfind(port + ": ", 0) == 0 && std::regex_search(line, kPage));
    if (!found) missing += (missing.empty() ? "" : ", ") + port;
  }
  return missing.empty() ? "" : "no page on standard error for " + missing;
}

const std::string& StandardImage() {
  static const std::string text = sim::MakeUpdateFileText(1);
  return text;
}

struct Step {
  const DocCommand* doc = nullptr;
  std::string label;    // the form of a usage line; empty for a command as written
  std::string command;  // filled, before the stand-ins
  std::string as_run;   // with the stand-ins and the programs' folder
  std::string skip;     // why it is not run
  std::vector<std::string> faults;
  test::ChildResult result;
  bool ran = false;
  std::string outcome;  // what the list shows after "passed"
  int expected = 0;     // the exit code it must end with
};

struct Job {
  std::vector<Step> steps;
};

class Stand {  // the stand-in devices of one job and the names they replace
 public:
  void Add(const std::string& name) {
    if (names_.count(name)) return;
    auto device = std::make_unique<sim::PtyDevice>();
    std::string path = device->SlavePath();
    if (name.find("://") != std::string::npos) {
      auto server = std::make_unique<sim::SerialServer>(device->SlavePath());
      if (!server->Installed()) {
        unavailable_ = server->Why();
        return;
      }
      if (!server->Running()) throw std::runtime_error("the serial server for " + name + ": " + server->Why());
      path = name.rfind("rfc2217", 0) == 0 ? server->Rfc2217Url() : server->RawUrl();
      servers_.push_back(std::move(server));
    }
    names_[name] = {path, device.get()};
    devices_.push_back(std::move(device));
  }
  // With every named device replaced by its stand-in, longest names first.
  std::string Replace(std::string text) const {
    std::vector<std::string> names;
    for (const auto& [name, unused] : names_) names.push_back(name);
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& name : names) {
      const std::string& path = names_.at(name).path;
      for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + path.size()))
        text.replace(at, name.size(), path);
    }
    return text;
  }
  // The stand-ins whose path `text` names.
  std::vector<std::pair<std::string, sim::PtyDevice*>> In(const std::string& text) const {
    std::vector<std::pair<std::string, sim::PtyDevice*>> out;
    for (const auto& [name, s] : names_) {
      const std::regex path("(^|[\\s=])" + std::regex_replace(s.path, std::regex("[.]"), "\\.") + "(?![0-9])");
      if (std::regex_search(text, path)) out.emplace_back(s.path, s.device);
    }
    return out;
  }
  const std::string& Unavailable() const { return unavailable_; }

 private:
  struct StandIn {
    std::string path;
    sim::PtyDevice* device;
  };
  std::vector<std::unique_ptr<sim::PtyDevice>> devices_;
  std::vector<std::unique_ptr<sim::SerialServer>> servers_;
  std::map<std::string, StandIn> names_;
  std::string unavailable_;
};

std::string Tail(const std::string& text, size_t lines = 6) {
  std::vector<std::string> all = Lines(text);
  if (all.size() > lines) all.erase(all.begin(), all.end() - static_cast<long>(lines));
  return Join(all, "\n");
}

void RunStep(Step& step, const Stand& stand, const std::string& dir) {
  const std::vector<std::vector<std::string>> segments = Segments(step.as_run);
  const std::string program = segments[0].empty() ? "" : Base(segments[0][0]);
  const bool window = program == "kvr-loader";
  for (const auto& segment : segments)
    if (!segment.empty() && IsProgram(segment[0]) &&
        access((kProgramDir + "/" + Base(segment[0])).c_str(), X_OK) != 0) {
      step.skip = Base(segment[0]) + " is not built in this configuration";
      return;
    }
  // A simple command is exec'd, so that its own exit code is seen; a list
  // runs in a shell that, like an interactive one, outlives Ctrl-C.
  const bool simple = segments.size() == 1;
  test::ChildOptions o;
  o.argv = {"/bin/sh", "-c", (simple ? "exec " : "trap : INT TERM; ") + step.as_run};
  o.cwd = dir;
  o.env = {"PATH=" + kProgramDir + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"),
           "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir + "/.runtime", "HOME=" + dir};
  o.own_group = true;
  o.signal_after_ms = window ? kWindowBoundMs : step.doc->sample.empty() ? kBoundMs : kShownBoundMs;
  o.sig = window ? SIGTERM : SIGINT;
  o.limit_ms = o.signal_after_ms + kGraceMs;
  step.result = test::RunChild(o);
  step.ran = true;
  const test::ChildResult& r = step.result;
  const std::string bound = std::to_string(o.signal_after_ms / 1000) + " s";
  std::vector<std::string>& faults = step.faults;
  // A load that finished as the signal came (its summary written, exit 0
  // within a moment of the signal) ended by itself: an interrupted load
  // exits 130 and says so.
  const bool finished_at_signal = r.signalled && !window && r.code == 0 &&
                                  r.seconds * 1000 < o.signal_after_ms + 1000 &&
                                  r.out.find("load complete: ") != std::string::npos;
  const bool ended = !r.signalled || finished_at_signal;

  if (r.code == -2) {
    faults.push_back("still running " + std::to_string(kGraceMs / 1000) + " s after " +
                     (window ? "SIGTERM" : "SIGINT") + ": killed");
  } else if (ended) {
    const int expected = step.expected;
    step.outcome = finished_at_signal ? "ended by itself as the signal came" : "ended by itself";
    if (r.code != expected)
      faults.push_back("exit " + std::to_string(r.code) + (expected ? ", expected " + std::to_string(expected) : ""));
  } else if (window) {
    step.outcome = "still running at " + bound + ", stopped with SIGTERM";
    if (!r.err.empty()) faults.push_back("the window wrote to standard error");
  } else {
    step.outcome = "still running at " + bound + ", interrupted with SIGINT";
    if (r.code != 130) faults.push_back("exit " + std::to_string(r.code) + " after SIGINT, expected 130");
    const auto load = std::find_if(segments.begin(), segments.end(), IsLoad);
    if (program == "kvr-simload") {  // the demo at the real pace: it has opened its image and sends
      if (r.out.find("Update file: ") == std::string::npos) faults.push_back("opened no update file");
    } else if (load == segments.end()) {
      faults.push_back("runs for ever but is no load");
    } else if (std::find(load->begin(), load->end(), "--quiet") != load->end()) {
      step.outcome += " (quiet: the stand-ins tell whether it was loading)";
    } else if (const std::string why = NotLoading(r.err, LoadPorts(*load, dir)); !why.empty()) {
      faults.push_back("was not loading: " + why);
    } else {
      step.outcome += " while loading";
    }
  }
  const bool exit_right = faults.empty();  // the stand-ins are looked at only then
  if (!step.doc->sample.empty())
    if (const std::string line = MissingLine(Lines(stand.Replace(Join(step.doc->sample, "\n"))), r.out + r.err);
        !line.empty())
      faults.push_back("the output lacks the shown line \"" + line + "\"");

  for (const auto& segment : segments) {
    if (Makes(segment) && r.code == 0)
      for (const std::string& image : ImageNames(segment))
        if (sim::ImageFromUpdateText(sim::ReadFile(dir + "/" + image)).empty())
          faults.push_back("made no image " + image);
    if (!IsLoad(segment) || !exit_right) continue;
    // The stand-ins the load names, itself or in a list file it reads.
    std::string named = Join(segment, " ");
    for (const std::string& list : OptionValues(segment, "--ports-from"))
      named += "\n" + sim::ReadFile(dir + "/" + list);
    const std::vector<std::string> images = ImageNames(segment);
    for (const auto& [path, device] : stand.In(named)) {
      if (device->FramesReceived() == 0) faults.push_back("nothing reached the stand-in " + path);
      if (r.code == 0 && ended && images.size() == 1 && !sim::ImageEqualsFile(device->Image(), dir + "/" + images[0]))
        faults.push_back("the load completed, but the stand-in " + path + " does not hold the image");
    }
    if (r.code == 0 && ended && std::find(segment.begin(), segment.end(), "--simulate") != segment.end() &&
        r.out.find("image equal to the file") == std::string::npos)
      faults.push_back("the simulated device's verdict is missing");
  }
  if (!faults.empty())
    faults.push_back("standard error ends:\n" + Tail(r.err) + "\nstandard output ends:\n" + Tail(r.out));
}

void RunJobSteps(Job& job) {
  test::TempDir dir;
  mkdir((dir.Path() + "/.runtime").c_str(), 0700);
  Stand stand;
  std::map<std::string, std::string> files;  // written before the job's commands run
  std::set<std::string> made, read;          // image names
  std::set<std::string> recorded;            // record files a load of the job writes
  for (const Step& step : job.steps) {
    if (!step.skip.empty()) continue;
    for (const std::string& name : DevicesIn(step.command)) stand.Add(name);
    for (const auto& segment : Segments(step.command)) {
      for (const std::string& image : ImageNames(segment)) (Makes(segment) ? made : read).insert(image);
      if (segment.size() == 2 && segment[0] == "cat" && !step.doc->sample.empty())
        files[segment[1]] = Join(step.doc->sample, "\n") + "\n";
      for (const std::string& list : OptionValues(segment, "--ports-from"))
        if (list == kPortsFile) files[list] = "# the test's stand-ins\n/dev/ttyUSB0  # first\n/dev/ttyUSB1\n";
      for (const std::string& record : OptionValues(segment, "--record")) recorded.insert(record);
      // A record file read before any step of the job writes one: a record of a load.
      if (segment.size() >= 3 && Base(segment[0]) == "kvr-loader-cli" && segment[1] == "records" &&
          !recorded.count(segment[2]))
        files[segment[2]] = kRecordLine;
    }
  }
  for (const auto& [name, text] : files)
    for (const std::string& device : DevicesIn(text)) stand.Add(device);
  for (const auto& [name, text] : files) sim::WriteFile(dir.File(name), stand.Replace(text));
  for (const std::string& image : read)
    if (!made.count(image)) sim::WriteFile(dir.File(image), StandardImage());

  for (Step& step : job.steps) {
    if (!step.skip.empty()) continue;
    if (!stand.Unavailable().empty()) {
      step.skip = stand.Unavailable();
      continue;
    }
    step.as_run = stand.Replace(step.command);
    // The folder itself may be build/release/bin: look on after each replacement.
    for (size_t at = 0; (at = step.as_run.find("build/release/bin/", at)) != std::string::npos;
         at += kProgramDir.size() + 1)
      step.as_run.replace(at, 18, kProgramDir + "/");
    RunStep(step, stand, dir.Path());
  }
}

void RunJob(Job& job) {
  try {
    RunJobSteps(job);
  } catch (const std::exception& e) {
    for (Step& step : job.steps)
      if (step.skip.empty()) step.faults.push_back(std::string("could not be run: ") + e.what());
  }
}

std::string SkipReason(const Tables& tables, const std::string& text) {
  for (const Skip& s : tables.skips)
    if (std::regex_search(text, std::regex(s.pattern))) return s.reason;
  return "";
}

int ExpectedCode(const Tables& tables, const std::string& command) {
  for (const ExpectedExit& e : tables.expected)
    if (std::regex_search(Trim(SplitComment(command).code), std::regex(e.pattern))) return e.code;
  return 0;
}

// The jobs for the documents' commands: a "$ " block is one job, any other command one of its own.
std::vector<Job> Plan(const std::vector<DocCommand>& commands, const Tables& tables) {
  std::vector<Job> jobs;
  for (const DocCommand& doc : commands) {
    std::vector<Step> steps;
    const auto add = [&](const std::string& label, const std::string& command) {
      Step s;
      s.doc = &doc;
      s.label = label;
      s.command = command;
      s.expected = ExpectedCode(tables, command);
      steps.push_back(s);
      return &steps.back();
    };
    if (const std::string why = SkipReason(tables, doc.text); !why.empty()) {
      add("", doc.text)->skip = why;
    } else if (!IsUsage(doc.text)) {
      add("", doc.text);
    } else {
      std::string error;
      const std::vector<Form> forms = Expand(doc.text, error);
      if (!error.empty()) add("", doc.text)->faults.push_back("the usage line does not parse: " + error);
      for (const Form& form : forms) {
        std::vector<std::string> unknown;
        int seen = 0;
        Step* s = add(form.label, Fill(form.command, tables.placeholders, unknown, seen));
        for (const std::string& u : unknown)
          s->faults.push_back("the placeholder " + u + " is not in the test's table (form: " + form.command + ")");
      }
    }
    for (Step& s : steps) {
      if (!s.skip.empty() || !s.faults.empty()) continue;
      for (const auto& segment : Segments(s.command))
        if (segment.empty() || !(IsProgram(segment[0]) || (segment[0] == "cat" && !doc.block.empty())))
          s.faults.push_back(
              "neither run here nor in the skip table: " +
              (segment.empty() ? std::string("an empty command") : segment[0] + " is no program it runs"));
    }
    for (Step& s : steps)
      if (!s.faults.empty()) s.skip = "-";  // not run: a fault of the document or the tables
    if (doc.block.empty() || jobs.empty() || jobs.back().steps.back().doc->block != doc.block) jobs.emplace_back();
    for (Step& s : steps) jobs.back().steps.push_back(std::move(s));
  }
  return jobs;
}

Totals all_totals;

// Runs the jobs, prints the list and reports each fault; the totals of this run.
Totals RunJobs(std::vector<Job> jobs) {
  StandardImage();  // made once, before the workers share it
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i)
    workers.emplace_back([&] {
      for (size_t j; (j = next++) < jobs.size();) RunJob(jobs[j]);
    });
  for (std::thread& t : workers) t.join();

  Totals totals;
  std::ostringstream list;
  const DocCommand* shown = nullptr;
  for (const Job& job : jobs)
    for (const Step& step : job.steps) {
      if (step.doc != shown) list << step.doc->where << ": " << step.doc->text << "\n";
      shown = step.doc;
      if (!step.label.empty() || (step.ran && step.as_run != step.doc->text))
        list << "    " << (step.label.empty() ? "as run" : step.label) << ": "
             << (step.as_run.empty() ? step.command : step.as_run) << "\n";
      const test::ChildResult& r = step.result;
      std::ostringstream figures;
      figures << "exit " << r.code << ", " << std::fixed << std::setprecision(1) << r.seconds << " s";
      if (!step.faults.empty()) {
        ++totals.failed;
        list << "        FAILED" << (step.ran ? " (" + figures.str() + ")" : "") << ": " << step.faults[0] << "\n";
        std::string all;
        for (const std::string& f : step.faults) all += "\n  " + f;
        ADD_FAILURE() << step.doc->where << ": " << step.doc->text << "\n  "
                      << (step.label.empty() ? "" : step.label + ": ")
                      << (step.as_run.empty() ? step.command : step.as_run) << all;
      } else if (!step.skip.empty()) {
        ++totals.skipped;
        list << "        skipped: " << step.skip << "\n";
      } else {
        ++totals.passed;
        list << "        passed (" << figures.str() << "): ran, " << step.outcome << "\n";
      }
    }
  list << totals.passed << " passed, " << totals.failed << " failed, " << totals.skipped << " skipped\n";
  std::cout << list.str() << std::flush;
  all_totals.passed += totals.passed;
  all_totals.failed += totals.failed;
  all_totals.skipped += totals.skipped;
  return totals;
}

class PrintTotals : public ::testing::Environment {
 public:
  void TearDown() override {
    if (all_totals.passed + all_totals.failed + all_totals.skipped > 0)
      std::cout << "all documents: " << all_totals.passed << " passed, " << all_totals.failed << " failed, "
                << all_totals.skipped << " skipped\n";
  }
};
::testing::Environment* const kPrintTotals = ::testing::AddGlobalTestEnvironment(new PrintTotals);

}  // namespace

Totals RunAndList(const std::vector<DocCommand>& commands, const Tables& tables) {
  return RunJobs(Plan(commands, tables));
}

}  // namespace kvr::docs
