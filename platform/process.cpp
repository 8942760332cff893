#include "platform/process.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& args) {
  size_t slash = program.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string(".") : program.substr(0, slash + 1);
  // Everything the child needs is prepared before fork: between fork and exec only
  // async-signal-safe calls are allowed, as the caller may have other threads.
  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argvStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  int report[2];  // the grandchild's exec error, or end of file when exec succeeded
  if (pipe2(report, O_CLOEXEC) != 0) return false;

  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    // First child: a new session, then the program in a grandchild, so that the program is
    // never our zombie and is not hit by our terminal's hang-up.
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    // Keep the report descriptor clear of the standard streams about to be replaced.
    int reportFd = fcntl(report[1], F_DUPFD_CLOEXEC, 3);
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    // No descriptor of the starter survives into the program; the report descriptor closes
    // itself at exec.
    if (reportFd > 3) syscall(SYS_close_range, 3u, static_cast<unsigned>(reportFd - 1), 0u);
    syscall(SYS_close_range, static_cast<unsigned>(reportFd + 1), ~0u, 0u);
    int err = 0;
    if (chdir(folder.c_str()) != 0) err = errno;
    if (err == 0) {
      execve(program.c_str(), argv.data(), environ);
      err = errno;
    }
    ssize_t ignored = write(reportFd, &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  bool firstChildOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return firstChildOk && n == 0;
}

ProcessWatch::~ProcessWatch() {
  if (pidfd_ >= 0) close(pidfd_);
}

bool ProcessWatch::watch(uint32_t processId) {
  if (pidfd_ >= 0) close(pidfd_);
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0u));
  return pidfd_ >= 0;
}

bool ProcessWatch::alive() const {
  if (pidfd_ < 0) return false;
  // A process descriptor becomes readable once the process has ended. A failed poll says
  // nothing; the next look decides.
  pollfd p{pidfd_, POLLIN, 0};
  return poll(&p, 1, 0) != 1;
}

std::string ModuleFilePath(const void* address) {
  if (address) {
    Dl_info info;
    if (dladdr(address, &info) != 0 && info.dli_fname && *info.dli_fname) {
      char resolved[PATH_MAX];
      if (realpath(info.dli_fname, resolved)) return resolved;
      return info.dli_fname;
    }
    return {};
  }
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  path[n] = '\0';
  return path;
}

std::string ProgramDirectory(const void* addressInLibrary) {
  std::string library = ModuleFilePath(addressInLibrary);
  size_t slash = library.find_last_of('/');
  if (slash == std::string::npos) return {};
  std::string libFolder = library.substr(0, slash);
  size_t parent = libFolder.find_last_of('/');
  std::string root = parent == std::string::npos ? std::string(".") : libFolder.substr(0, parent);
  return root + "/bin";
}

}  // namespace platform
