// SPDX-License-Identifier: MIT
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace vorn::testing {
namespace {

std::vector<char *> pointers(const std::vector<std::string> &strings) {
  std::vector<char *> result;
  for (const auto &s : strings) result.push_back(const_cast<char *>(s.c_str()));
  result.push_back(nullptr);
  return result;
}

// Reads a memory file from its start, and closes it.
std::string take(int &fd) {
  std::string text;
  char buffer[65536];
  ssize_t n = 0;
  lseek(fd, 0, SEEK_SET);
  while ((n = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  fd = -1;
  return text;
}

}  // namespace

Child start_process(const std::vector<std::string> &argv,
                    const std::vector<std::string> &env) {
  Child child;
  child.out = memfd_create("stdout", MFD_CLOEXEC);
  child.err = memfd_create("stderr", MFD_CLOEXEC);
  if (child.out < 0 || child.err < 0) {
    throw std::runtime_error("memfd_create failed");
  }
  auto args = pointers(argv);
  auto environment = pointers(env);
  child.pid = fork();
  if (child.pid < 0) throw std::runtime_error("fork failed");
  if (child.pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(child.out, 1);
    dup2(child.err, 2);
    execvpe(args[0], args.data(), environment.data());
    _exit(127);
  }
  return child;
}

ProcessResult finish_process(Child &child,
                             std::chrono::steady_clock::time_point deadline) {
  ProcessResult result;
  int wstatus = 0;
  rusage usage{};
  for (;;) {
    const pid_t done = wait4(child.pid, &wstatus, WNOHANG, &usage);
    if (done == child.pid) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
    if (!result.timed_out && std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      kill(child.pid, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  result.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
  result.out = take(child.out);
  result.err = take(child.err);
  return result;
}

ProcessResult run_process(const std::vector<std::string> &argv,
                          const std::vector<std::string> &env,
                          std::chrono::milliseconds limit) {
  Child child = start_process(argv, env);
  return finish_process(child, std::chrono::steady_clock::now() + limit);
}

}  // namespace vorn::testing
