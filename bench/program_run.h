// A program run as a process of its own, for the benchmarks: its output, its
// exit code, its wall and processor time. Free of Qt, POSIX only.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline double CpuSeconds(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct ProgramRun {
  std::string out;           // its standard output
  std::string err;           // its standard error, when asked for
  int code = -1;             // its exit code (128 + the signal that ended it)
  double cpu = 0, wall = 0;  // seconds
};

namespace detail {

// The first `limit` bytes of a temporary file, which is then removed.
inline std::string TakeFile(int fd, const char* path, size_t limit) {
  std::string text(limit, '\0');
  lseek(fd, 0, SEEK_SET);
  const ssize_t n = read(fd, text.data(), text.size());
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  close(fd);
  unlink(path);
  return text;
}

}  // namespace detail

// Runs `program` with `args` and waits for it; its standard output (and its
// standard error with `keep_err`; otherwise that stays the benchmark's) goes
// through a temporary file (a pipe could fill while nobody reads it).
inline ProgramRun RunProgram(const char* program, const std::vector<std::string>& args, bool keep_err = false) {
  char out_path[] = "/tmp/bench_run_XXXXXX", err_path[] = "/tmp/bench_err_XXXXXX";
  const int out = mkstemp(out_path);
  const int err = keep_err ? mkstemp(err_path) : -1;
  std::vector<const char*> argv = {program};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    execv(program, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  int status = 0;
  rusage u{};
  wait4(pid, &status, 0, &u);
  ProgramRun run;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.cpu = CpuSeconds(u);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = detail::TakeFile(out, out_path, 1 << 16);
  if (err >= 0) run.err = detail::TakeFile(err, err_path, 1 << 20);
  return run;
}

}  // namespace bench
