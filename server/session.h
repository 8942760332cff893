// One session per client: the client's own pipe, opened for the server's replies, and the watch
// on the client's process that tells when the session is over.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "shared/pipe.h"

// What WhorlgateGetResultDetails explains: the last result the server gave a client. The
// capture worker answers blocking capture calls itself, so it records results too.
class ResultDetails {
 public:
  struct Result {
    int16_t result = 0;
    uint32_t flags = 0;
    std::string text = "No request has been answered yet.";
  };
  void record(int16_t result, uint32_t flags, const char* text);
  Result last() const;

 private:
  mutable std::mutex lock_;
  Result last_;
};

struct Session {
  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  uint32_t processId = 0;
  PipeCntl pipe{};  // the client's input pipe, number = processId
  platform::ProcessWatch process;

  std::set<uint32_t> contexts;  // handles made by WhorlgateInit and not closed yet
  std::set<uint32_t> streams;   // the contexts whose image stream is open
  std::shared_ptr<ResultDetails> details = std::make_shared<ResultDetails>();
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
  // The number of image streams open over all sessions.
  size_t openStreams() const;
  // Told of every session that ends, however it ends, with the client's process ID.
  std::function<void(uint32_t)> onEnd;

 private:
  void ended(uint32_t processId);

  std::map<uint32_t, std::unique_ptr<Session>> sessions_;
};

// Writes one message into the client's pipe; false (traced) when the client does not take it.
bool SendToClient(Session& session, const uint8_t* message, uint32_t length);
