// Test peers on loopback: ScriptedPeer, an in-test server that plays a script of sends, waits
// and closes on each accepted connection and records what it received, and StalledListener,
// a listener whose accept queue is full so that further connects hang.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brevis::test {

// One step of a peer's script. Build steps with the factory functions.
struct PeerStep {
  enum class Kind { kSend, kExpectBytes, kExpectUntil, kDelay, kClose, kReset, kWaitForClose };

  // Sends `bytes`; with `chunk` > 0 in pieces of that size, `gap_ms` apart, so that each piece
  // reaches the client in a receive of its own.
  static PeerStep Send(std::string bytes, std::size_t chunk = 0, int gap_ms = 0);
  // Sends one byte at a time, `gap_ms` apart.
  static PeerStep SendByteByByte(std::string bytes, int gap_ms = 2);
  // Waits until `count` more bytes have arrived.
  static PeerStep ExpectBytes(std::size_t count);
  // Waits until `marker` has arrived (after what earlier steps consumed), e.g. "\r\n\r\n".
  static PeerStep ExpectUntil(std::string marker);
  // Waits until a whole line (ending in LF) has arrived.
  static PeerStep ExpectLine() { return ExpectUntil("\n"); }
  static PeerStep Delay(int ms);
  // Ends the stream (FIN), keeps reading until the client closes, then closes the socket.
  static PeerStep Close();
  // Aborts the connection (RST).
  static PeerStep Reset();
  // Reads until the client closes, without sending anything: a silent peer.
  static PeerStep WaitForClose();

  Kind kind = Kind::kSend;
  std::string bytes;
  std::size_t count = 0;
  std::size_t chunk = 0;
  int ms = 0;
};

using PeerScript = std::vector<PeerStep>;

// Listens on 127.0.0.1 at a port the system chooses and plays scripts[i] on the i-th accepted
// connection, one connection after the other. A script that ends without closing ends with
// Close(). Every wait (for a connection, bytes, the client's close) gives up after
// `step_timeout_ms`, recording an error, so a test can never hang on its peer. The destructor
// stops the script wherever it is.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(PeerScript script, int step_timeout_ms = 5000);
  explicit ScriptedPeer(std::vector<PeerScript> scripts, int step_timeout_ms = 5000);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  static const char* Host() { return "127.0.0.1"; }
  uint16_t Port() const { return port_; }

  // Waits until every script has been played (or failed); true when that happened in time.
  bool WaitDone(int timeout_ms = 10000);
  // Bytes received on connection `index` so far.
  std::string Received(std::size_t index = 0) const;
  // Number of connections accepted so far.
  std::size_t Connections() const;
  // Text of the first step that failed, empty when none did.
  std::string Error() const;

 private:
  void Run();
  bool PlayScript(int fd, std::size_t index);
  // Waits until `fd` is readable (true) or the step's time runs out or the peer is stopped.
  bool WaitReadable(int fd, int timeout_ms);
  // Receives once into the record of connection `index`; false at the end of the stream.
  bool ReceiveSome(int fd, std::size_t index);
  bool Sleep(int ms);
  void Fail(const std::string& message);

  std::vector<PeerScript> scripts_;
  int stepTimeoutMs_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  mutable std::mutex lock_;
  std::condition_variable doneSignal_;
  bool done_ = false;
  std::vector<std::string> received_;
  std::string error_;
  std::thread thread_;
};

// A listener on 127.0.0.1 that never accepts, with its accept queue filled by its own pending
// connects; a further connect to Port() then hangs until it times out.
class StalledListener {
 public:
  StalledListener();
  ~StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;

  uint16_t Port() const { return port_; }
  // True when a connect was seen to hang, so the queue is known to be full.
  bool Stalled() const { return stalled_; }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  bool stalled_ = false;
  std::vector<int> fillers_;
};

// A loopback port that is bound but not listening, so that a connect to it is refused; it
// stays reserved (no other test can take it) for the object's lifetime.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace brevis::test
