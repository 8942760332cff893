// One session per client: the client's own pipe, opened for the server's replies, and the watch
// on the client's process that tells when the session is over.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "shared/pipe.h"

struct Session {
  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  uint32_t processId = 0;
  PipeCntl pipe{};  // the client's input pipe, number = processId
  platform::ProcessWatch process;

  std::set<uint32_t> contexts;  // handles made by WhorlgateInit and not closed yet
  // What WhorlgateGetResultDetails explains: the last result the server gave this client.
  int16_t lastResult = 0;
  uint32_t lastDetailFlags = 0;
  std::string lastDetails = "No request has been answered yet.";
  // The token the last preparatory service request handed out; a get or set must bring it
  // back, and uses it up. 0: none outstanding.
  uint32_t serviceToken = 0;
  // The user list as it was when the client asked for its first piece.
  uint32_t listSnapshot = 0;
  std::vector<uint8_t> listBytes;
};

class SessionTable {
 public:
  // A new session for the client, replacing any it had: a connect starts afresh. Null (traced)
  // when the process does not run or its pipe cannot be opened.
  Session* open(uint32_t processId);
  // The client's session, opened on demand when it has none: a client that connected to an
  // earlier server goes on sending requests as if nothing had happened.
  Session* findOrOpen(uint32_t processId);
  void close(uint32_t processId);
  // Lets go of every client whose process has ended, so that its pipe objects can disappear.
  void releaseEnded();
  void closeAll();

 private:
  std::map<uint32_t, std::unique_ptr<Session>> sessions_;
};

// Writes one message into the client's pipe; false (traced) when the client does not take it.
bool SendToClient(Session& session, const uint8_t* message, uint32_t length);
