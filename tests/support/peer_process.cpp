#include "tests/support/peer_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace {
long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}
}  // namespace

PeerProcess::~PeerProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (in_ >= 0) close(in_);
}

void PeerProcess::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool PeerProcess::startProgram(const std::string& program, const std::vector<std::string>& args) {
  int fds[2], input[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  if (pipe2(input, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  std::vector<std::string> argv_strings{program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  close(input[0]);
  out_ = fds[0];
  in_ = input[1];
  return rc == 0;
}

std::string PeerProcess::readLine(int timeoutMs) {
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    long long left = deadline - NowMs();
    if (left <= 0) return {};
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return {};
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

bool PeerProcess::expectLine(const std::string& line, int timeoutMs) {
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    long long left = deadline - NowMs();
    if (left <= 0) return false;
    std::string got = readLine(static_cast<int>(left));
    if (got == line) return true;
    if (got.empty() && NowMs() >= deadline) return false;
  }
}

int PeerProcess::wait(int timeoutMs) {
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return WEXITSTATUS(status);
    }
    if (NowMs() >= deadline) return -1;
    usleep(2000);
  }
}

void PeerProcess::kill(int signal) { ::kill(pid_, signal); }
