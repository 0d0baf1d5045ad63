// lirvo-bench-peak SECONDS COMMAND [ARGUMENTS...]: runs the command and prints its exit status and
// peak resident set ("exit=N signal=S peak_kib=K"), read from wait4. lirvo-bench measures the
// transfer's memory through this small process: a child's peak includes the resident set of the
// process that started it, and lirvo-bench itself holds hundreds of MiB by then.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: lirvo-bench-peak SECONDS COMMAND [ARGUMENTS...]\n");
    return 2;
  }
  const long seconds = std::strtol(argv[1], nullptr, 10);
  if (seconds <= 0 || seconds > 3600) {
    std::fprintf(stderr, "lirvo-bench-peak: SECONDS must be 1 to 3600, not \"%s\"\n", argv[1]);
    return 2;
  }
  pid_t pid = -1;
  const int error = posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ);
  if (error != 0) {
    std::fprintf(stderr, "lirvo-bench-peak: cannot start %s: %s\n", argv[2], std::strerror(error));
    return 1;
  }
  // Wait at most SECONDS: the process's descriptor becomes readable when it ends.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd ended{pidfd, POLLIN, 0};
    if (poll(&ended, 1, static_cast<int>(seconds * 1000)) == 0) {
      kill(pid, SIGKILL);
    }
    close(pidfd);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  // The CPU time counts the children the program waited for (lirvo's database reader).
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("exit=%d signal=%d peak_kib=%ld cpu_s=%.6f\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : -1,
              WIFSIGNALED(status) ? WTERMSIG(status) : 0, usage.ru_maxrss, cpu);
  return 0;
}
