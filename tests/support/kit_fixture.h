// The kit as an application meets it: the real WGServer with its simulated sensor, started in
// the test's own object directory, wgsensor to say what the sensor is shown, and the client
// library (linked statically) attached to that server by hand, as loading it would.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"

class KitTest : public IsolatedTest {
 protected:
  // Starts the server with a quick user and sensor (a five-view enrollment in about a second)
  // and attaches the library.
  void SetUp() override;
  void TearDown() override;

  void startServer();
  void stopServer(int signal);
  // Runs wgsensor with `args` to its end; its lines of output.
  std::vector<std::string> sensor(const std::vector<std::string>& args);

 private:
  std::unique_ptr<PeerProcess> server_;
  bool attached_ = false;
};

// Runs a program to its end and returns what it printed, a line each, expecting `status`.
std::vector<std::string> RunToEnd(const std::string& program, const std::vector<std::string>& args,
                                  int status = 0);
