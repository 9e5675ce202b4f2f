// Buffered, time-limited reading and writing over one connection, and NetComponent, the base of
// the I/O handlers and of the TCP connection (status and work notifications, one usage of the
// socket layer).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stream.h"
#include "http/net/byte_queue.h"
#include "http/net/socket_stack.h"

namespace brevis {

enum ConnStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
};

enum WorkMode { wmRead, wmWrite };

// Status and work notifications. Work calls nest per mode; the events fire on the outermost
// begin, on every step and on the outermost end. A component with a work target forwards its
// work calls to it instead.
class NetComponent {
 public:
  using StatusEvent = std::function<void(ConnStatus status, const std::string& text)>;
  using WorkBeginEvent = std::function<void(WorkMode mode, int64_t count_max)>;
  using WorkEvent = std::function<void(WorkMode mode, int64_t count)>;
  using WorkEndEvent = std::function<void(WorkMode mode)>;

  NetComponent() = default;
  virtual ~NetComponent() = default;
  NetComponent(const NetComponent&) = delete;
  NetComponent& operator=(const NetComponent&) = delete;

  const StatusEvent& OnStatus() const { return onStatus_; }
  void SetOnStatus(StatusEvent handler) { onStatus_ = std::move(handler); }
  void SetOnWorkBegin(WorkBeginEvent handler) { onWorkBegin_ = std::move(handler); }
  void SetOnWork(WorkEvent handler) { onWork_ = std::move(handler); }
  void SetOnWorkEnd(WorkEndEvent handler) { onWorkEnd_ = std::move(handler); }
  void SetWorkTarget(NetComponent* target) { workTarget_ = target; }

  void BeginWork(WorkMode mode, int64_t count_max = 0);
  void DoWork(WorkMode mode, int64_t count);
  void EndWork(WorkMode mode);
  // Bytes counted since the outermost BeginWork of the mode (or ever, outside work).
  int64_t WorkCount(WorkMode mode) const;

 protected:
  // Reports a status; the text is formatted only when a handler is assigned. `argument` fills
  // the status's placeholder (host, peer address or free text).
  void DoStatus(ConnStatus status, const std::string& argument = std::string());

 private:
  struct WorkState {
    int nesting = 0;
    int64_t count = 0;
    int64_t count_max = 0;
  };
  WorkState& State(WorkMode mode) { return work_[mode == wmRead ? 0 : 1]; }

  StatusEvent onStatus_;
  WorkBeginEvent onWorkBegin_;
  WorkEvent onWork_;
  WorkEndEvent onWorkEnd_;
  NetComponent* workTarget_ = nullptr;
  WorkState work_[2];
  SocketStackUsage usage_;
};

enum MaxLineAction { maException, maSplit };

// Bounds on every wait of one exchange, set by the client that runs it. Without a deadline and a
// cancel flag the waits are bounded only by their own time-outs.
struct WaitLimits {
  // Once this moment has passed, every wait fails with NetFetchTimeout(budgetMs).
  std::optional<std::chrono::steady_clock::time_point> Deadline;
  int BudgetMs = 0;  // the whole allowance the deadline was set from, for the message
  // Owned by the caller; once it is true (set from any thread), the wait under way fails with
  // NetFetchCancelled within kCancelPollMs.
  const std::atomic<bool>* Cancel = nullptr;
};

// Buffered I/O over a source. Bytes received go to the input buffer and stay readable after
// the peer has closed; reads take from it and wait for more, each wait bounded by the read
// time-out. Failures are NetError exceptions; a read failure leaves the connection and the unread
// bytes as they are. Used by one thread at a time.
// Splits "host:port" at its last colon. The port is taken only when it is a decimal number up to
// 65535; otherwise `port` keeps its value. Without a colon the whole text is the host.
void SplitDestination(const std::string& destination, std::string& host, uint16_t& port);

class IOHandler : public NetComponent {
 public:
  static constexpr int kDefaultRecvBufferSize = 32768;
  static constexpr int kDefaultSendBufferSize = 32768;
  static constexpr int kDefaultMaxLineLength = 16384;
  // Largest known length that ReadStream reserves room for in advance (Stream::Reserve), so
  // that a large body is never moved while it arrives. Longer ones grow as bytes arrive, so
  // that an announced length cannot make this side allocate it.
  static constexpr int64_t kMaxPresize = int64_t{256} << 20;
  // Longest single wait while a cancel flag is set: how late a cancel may be noticed.
  static constexpr int kCancelPollMs = 50;

  IOHandler();
  ~IOHandler() override;

  // Settings. Time-outs are milliseconds; for ReadTimeout -1 and 0 mean wait without limit.
  int ConnectTimeout() const { return connectTimeout_; }
  void SetConnectTimeout(int milliseconds) { connectTimeout_ = milliseconds; }
  int ReadTimeout() const { return readTimeout_; }
  void SetReadTimeout(int milliseconds) { readTimeout_ = milliseconds; }
  int RecvBufferSize() const { return recvBufferSize_; }
  void SetRecvBufferSize(int size) { recvBufferSize_ = size > 0 ? size : 1; }
  int SendBufferSize() const { return sendBufferSize_; }
  void SetSendBufferSize(int size) { sendBufferSize_ = size > 0 ? size : 1; }
  int MaxLineLength() const { return maxLineLength_; }
  void SetMaxLineLength(int length) { maxLineLength_ = length; }
  brevis::MaxLineAction MaxLineAction() const { return maxLineAction_; }
  void SetMaxLineAction(brevis::MaxLineAction action) { maxLineAction_ = action; }
  int MaxCapturedLines() const { return maxCapturedLines_; }
  void SetMaxCapturedLines(int lines) { maxCapturedLines_ = lines; }
  bool LargeStream() const { return largeStream_; }
  void SetLargeStream(bool large) { largeStream_ = large; }
  TextEncoding DefStringEncoding() const { return defStringEncoding_; }
  void SetDefStringEncoding(TextEncoding encoding);
  // Deadline and cancel flag for every wait from now on (a poll that does not wait is never
  // refused); the default WaitLimits lifts them. Connecting counts as a wait too.
  const brevis::WaitLimits& Limits() const { return limits_; }
  void SetLimits(const brevis::WaitLimits& limits) { limits_ = limits; }
  // Throws NetFetchCancelled when the cancel flag is set, NetFetchTimeout when the deadline has
  // passed; else does nothing.
  void CheckLimits() const;

  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host) { host_ = host; }
  uint16_t Port() const { return port_; }
  void SetPort(uint16_t port) { port_ = port; }
  // Host and port as "host:port"; setting it sets both (a missing or bad port leaves Port).
  std::string Destination() const;
  void SetDestination(const std::string& destination);

  ByteQueue& InputBuffer() { return inputBuffer_; }
  bool InputBufferIsEmpty() const { return inputBuffer_.Size() == 0; }
  bool Opened() const { return opened_; }
  bool ClosedGracefully() const { return closedGracefully_; }
  bool ReadLnTimedOut() const { return readLnTimedOut_; }
  bool ReadLnSplit() const { return readLnSplit_; }

  // Clears the flags and both buffers and marks the handler open.
  virtual void Open();
  // Marks the handler closed and empties the write buffer; the input buffer is kept.
  virtual void Close();
  // True while the source is there and has not ended, or while unread bytes are waiting.
  virtual bool Connected();
  // Notices a source that has ended or gone. Throws NetConnClosedGracefully when it has, the
  // input buffer is empty (or `ignore_buffer`) and `raise_if_disconnected`.
  virtual void CheckForDisconnect(bool raise_if_disconnected = true,
                                  bool ignore_buffer = false) = 0;
  // True when connected and bytes arrived within `milliseconds`.
  bool CheckForDataOnSource(int milliseconds = 0);
  // Waits for the source to become readable; see SocketHandle::Readable.
  virtual bool Readable(int milliseconds = kTimeoutDefault) = 0;

  // Reads one line up to `terminator` (empty: LF) and returns it without the terminator; with an
  // LF terminator a CR before it is dropped too. `timeout` -1 bounds each wait by ReadTimeout;
  // 0 or more bounds the whole line, and running out returns "" with ReadLnTimedOut set.
  // A line longer than `max_line_length` (below 0: MaxLineLength; 0: unlimited) fails with
  // NetReadLnMaxLineLengthExceeded, or with maSplit returns its first part and sets ReadLnSplit;
  // this is decided as soon as that many bytes are buffered without a terminator. The peer
  // closing before the terminator fails with NetConnClosedGracefully.
  std::string ReadLn(std::string_view terminator = "\n", int timeout = kTimeoutDefault,
                     int max_line_length = -1, TextEncoding encoding = TextEncoding::kDefault);
  // Reads exactly `count` bytes (appended, or over the start of `bytes`). A negative count takes
  // whatever one receive brings. Throws NetReadTimeout, NetConnClosedGracefully, NetSocketError.
  void ReadBytes(std::vector<uint8_t>& bytes, int64_t count, bool append = true);
  // Reads `count` bytes into the stream at its position; a negative count (or
  // `read_until_disconnect`) reads until the peer ends the stream, which then is no failure.
  // -1 without `read_until_disconnect` first reads a big-endian length (8 bytes with
  // LargeStream, else 4). Bytes that arrived are in the stream even when the read fails, and the
  // stream is cut at its position at the end.
  void ReadStream(Stream& stream, int64_t count = -1, bool read_until_disconnect = false);
  void Discard(int64_t count);
  void DiscardAll();

  // Writes. With write buffering active the bytes go to the write buffer.
  void Write(std::string_view text, TextEncoding encoding = TextEncoding::kDefault);
  void WriteLn(std::string_view text = std::string_view(),
               TextEncoding encoding = TextEncoding::kDefault);
  void Write(const uint8_t* data, std::size_t length);
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
  // Sends `size` bytes of the stream from its position (0: the rest; negative: the whole
  // stream from its start), preceded by the count when `write_byte_count`.
  void Write(Stream& stream, int64_t size = 0, bool write_byte_count = false);
  // Sends at once, bypassing the write buffer. Throws NetSocketError on a send error.
  void WriteDirect(const uint8_t* data, std::size_t length);

  // Write buffering: collects writes and sends them together.
  // `threshold` > 0 flushes whole threshold-sized pieces as soon as they are complete.
  void WriteBufferOpen(int threshold = -1);
  // Flushes everything, then always ends buffering.
  void WriteBufferClose();
  // Drops the buffered bytes and ends buffering.
  void WriteBufferCancel();
  // Sends `count` buffered bytes (-1: all).
  void WriteBufferFlush(int64_t count = -1);
  void WriteBufferClear();
  bool WriteBufferingActive() const { return writeBuffer_ != nullptr; }

 protected:
  // Moves what one receive brings into the input buffer and returns its count: -1 when the wait
  // ran out (unless `raise_on_timeout`), 0 when the peer ended the stream or nothing is there to
  // read from. `timeout` -1 means ReadTimeout (no limit for ReadTimeout -1 or 0).
  int ReceiveIntoBuffer(bool raise_if_disconnected = true, int timeout = kTimeoutDefault,
                        bool raise_on_timeout = true);
  // Waits until the input buffer holds `count` bytes (see ReadBytes).
  void FillInputBuffer(std::size_t count);
  // Readable(timeout) within the limits: waits in slices that end by the deadline and poll the
  // cancel flag, and throws as CheckLimits does once a limit is reached. `timeout` 0 polls.
  bool WaitReadable(int timeout);
  // The longest wait allowed now for one that would take `milliseconds` (negative: no limit):
  // at most until the deadline (at least 1 ms), and at most kCancelPollMs with a cancel flag.
  int LimitSlice(int milliseconds) const;
  bool HasLimits() const { return limits_.Deadline.has_value() || limits_.Cancel != nullptr; }

  virtual bool SourceIsAvailable() const = 0;
  virtual std::size_t ReadDataFromSource(uint8_t* buffer, std::size_t size) = 0;
  virtual std::size_t WriteDataToTarget(const uint8_t* data, std::size_t size) = 0;

  bool opened_ = false;
  bool closedGracefully_ = false;

 private:
  int connectTimeout_ = 0;
  int readTimeout_ = kTimeoutDefault;
  int recvBufferSize_ = kDefaultRecvBufferSize;
  int sendBufferSize_ = kDefaultSendBufferSize;
  int maxLineLength_ = kDefaultMaxLineLength;
  brevis::MaxLineAction maxLineAction_ = maException;
  int maxCapturedLines_ = -1;
  bool largeStream_ = false;
  TextEncoding defStringEncoding_ = TextEncoding::kAscii;
  std::string host_;
  uint16_t port_ = 0;
  ByteQueue inputBuffer_;
  std::unique_ptr<ByteQueue> writeBuffer_;
  int writeBufferThreshold_ = -1;
  bool readLnTimedOut_ = false;
  bool readLnSplit_ = false;
  std::vector<uint8_t> receiveBlock_;
  brevis::WaitLimits limits_;
};

}  // namespace brevis
