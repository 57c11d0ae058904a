#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace kvr::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kvr-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                          std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                          std::filesystem::perms::others_exec);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int RunUnprivileged(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) return 98;
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    int rc = 97;
    try {
      rc = body();
    } catch (...) {
    }
    _exit(rc);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 96;
  return WEXITSTATUS(status);
}

}  // namespace kvr::test
