#include "child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "test_support.h"
#include "update_file_maker.h"

extern char** environ;

namespace kvr::test {

ChildResult RunChild(const ChildOptions& options) {
  TempDir dir;
  const std::string out = dir.File("out"), err = dir.File("err");
  // Everything the child needs is made before the fork: the tests run threads,
  // and a child of a threaded process should call no more than exec needs.
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    const size_t name_length = eq ? static_cast<size_t>(eq - *e) : std::strlen(*e);
    bool replaced = false;
    for (const std::string& entry : options.env)
      replaced = replaced || (entry.size() > name_length && entry[name_length] == '=' &&
                              entry.compare(0, name_length, *e, name_length) == 0);
    if (!replaced) env_text.emplace_back(*e);
  }
  env_text.insert(env_text.end(), options.env.begin(), options.env.end());
  std::vector<std::string> arg_text = options.argv;
  std::vector<char*> argv, envp;
  for (std::string& a : arg_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  // Close-on-exec, so that a child forked meanwhile by another thread does not keep them.
  const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ChildResult r;
  if (o < 0 || e < 0 || argv.size() < 2) {
    if (o >= 0) close(o);
    if (e >= 0) close(e);
    return r;
  }

  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(o, 1);
    dup2(e, 2);
    if (options.own_group) setpgid(0, 0);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(options.uid)) != 0 ||
                             setuid(static_cast<uid_t>(options.uid)) != 0))
      _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(o);
  close(e);
  if (pid < 0) return r;
  if (options.own_group) setpgid(pid, pid);  // also here, so that the group exists before any signal
  const auto send = [&](int sig) { kill(options.own_group ? -pid : pid, sig); };
  size_t err_seen = 0;
  for (;;) {
    if (options.watch) {
      struct stat st {};
      if (stat(err.c_str(), &st) == 0 && static_cast<size_t>(st.st_size) > err_seen) {
        err_seen = static_cast<size_t>(st.st_size);
        options.watch(pid, sim::ReadFile(err));
      }
    }
    int status = 0;
    rusage usage{};
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    if (done == pid) {
      r.term_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + r.term_signal;
      r.cpu_seconds =
          usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
      break;
    }
    if (options.signal_after_ms > 0 && !r.signalled && ms >= options.signal_after_ms) {
      send(options.sig);
      r.signalled = true;
    }
    if (ms > options.limit_ms) {
      send(SIGKILL);
      waitpid(pid, nullptr, 0);
      r.code = -2;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // What is left of the group (a shell's children, say) ends with it.
  if (options.own_group) kill(-pid, SIGKILL);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.out = sim::ReadFile(out);
  r.err = sim::ReadFile(err);
  return r;
}

}  // namespace kvr::test
