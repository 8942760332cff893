// A second process for cross-process tests: the wg_test_peer program (or another), started
// with a command, talking back through its standard output and error one line at a time.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class PeerProcess {
 public:
  PeerProcess() = default;
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  ~PeerProcess();

  // Starts wg_test_peer with `args` in the caller's environment.
  bool start(const std::vector<std::string>& args) { return startProgram(WG_TEST_PEER, args); }
  // Starts any program the same way.
  bool startProgram(const std::string& program, const std::vector<std::string>& args);
  // Next line the peer printed, without its newline; empty on time-out or end of output.
  std::string readLine(int timeoutMs = 10000);
  // Waits for the peer to print `line`; false on time-out or end of output.
  bool expectLine(const std::string& line, int timeoutMs = 10000);
  // Closes the peer's standard input: a peer waiting for it goes on (usually to exit).
  void closeInput();
  // Exit status of the peer (-1 on time-out, 128 + signal when killed).
  int wait(int timeoutMs = 10000);
  void kill(int signal);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  std::string buffered_;
  bool reaped_ = false;
};
