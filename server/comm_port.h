// The serial port the server owns and lends to one client at a time: the port "Comm port name"
// names (COM1 to COM4), at the "Startup baud rate", 8 data bits, no parity, one stop bit. It is
// opened when a client first gets it and stays open until a restart or the server's end, so
// that a server on a machine without the line starts all the same.
#pragma once

#include <cstdint>
#include <string>

#include "platform/serial_port.h"

class ServerSettings;
struct ServerState;
struct Request;
struct Session;
struct Outcome;

class CommPort {
 public:
  // Opens the port if it is not open. False with the reason in error().
  bool ensureOpen(const ServerSettings& settings);
  // Closes the port and opens it again with the settings as they are now.
  bool reopen(const ServerSettings& settings);
  const std::string& error() const { return error_; }
  platform::SerialPort& port() { return port_; }

  // The client holding the loan, 0 for none.
  uint32_t holder() const { return holder_; }
  void lend(uint32_t processId) { holder_ = processId; }
  void takeBack() { holder_ = 0; }
  // A client whose session ends, however it ends, loses the loan.
  void sessionEnded(uint32_t processId);

 private:
  platform::SerialPort port_;
  uint32_t holder_ = 0;
  std::string error_;
};

// The route check of the four comm port requests: L must say exactly how long the message is.
const char* CheckCommPortRequest(const Request& request);

void ServeGetCommPort(ServerState& state, const Request& request, Session* session);
void ServeReadCommPort(ServerState& state, const Request& request, Session* session);
void ServeWriteCommPort(ServerState& state, const Request& request, Session* session);
void ServeReleaseCommPort(ServerState& state, const Request& request, Session* session);

// Service command 12: the port closed and opened again with the current settings; the loan
// stays where it is. A failure's reason goes to *reason, which the outcome's text points into.
Outcome RestartCommPort(ServerState& state, std::string* reason);
