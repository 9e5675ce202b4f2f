// Buffered I/O: line and block reads over the input buffer, write buffering, work notifications.
#include "http/net/io_handler.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "common/ascii_text.h"
#include "http/net/net_error.h"

namespace brevis {

// NetComponent

void NetComponent::DoStatus(ConnStatus status, const std::string& argument) {
  if (!onStatus_) return;
  std::string text;
  switch (status) {
    case hsResolving:
      text = "Resolving hostname " + argument + ".";
      break;
    case hsConnecting:
      text = "Connecting to " + argument + ".";
      break;
    case hsConnected:
      text = "Connected.";
      break;
    case hsDisconnecting:
      text = "Disconnecting.";
      break;
    case hsDisconnected:
      text = "Disconnected.";
      break;
    case hsStatusText:
      text = argument;
      break;
  }
  onStatus_(status, text);
}

void NetComponent::BeginWork(WorkMode mode, int64_t count_max) {
  if (workTarget_ != nullptr) return workTarget_->BeginWork(mode, count_max);
  WorkState& state = State(mode);
  if (++state.nesting == 1) {
    state.count = 0;
    state.count_max = count_max;
    if (onWorkBegin_) onWorkBegin_(mode, count_max);
  }
}

void NetComponent::DoWork(WorkMode mode, int64_t count) {
  if (workTarget_ != nullptr) return workTarget_->DoWork(mode, count);
  WorkState& state = State(mode);
  state.count += count;
  if (onWork_) onWork_(mode, state.count);
}

void NetComponent::EndWork(WorkMode mode) {
  if (workTarget_ != nullptr) return workTarget_->EndWork(mode);
  WorkState& state = State(mode);
  if (state.nesting == 0) return;
  if (--state.nesting == 0 && onWorkEnd_) onWorkEnd_(mode);
}

int64_t NetComponent::WorkCount(WorkMode mode) const {
  if (workTarget_ != nullptr) return workTarget_->WorkCount(mode);
  return work_[mode == wmRead ? 0 : 1].count;
}

// IOHandler

namespace {

// Ends a work mode when a transfer leaves, also by an exception.
class WorkScope {
 public:
  WorkScope(NetComponent& component, WorkMode mode, int64_t count_max)
      : component_(component), mode_(mode) {
    component_.BeginWork(mode_, count_max);
  }
  ~WorkScope() { component_.EndWork(mode_); }
  WorkScope(const WorkScope&) = delete;
  WorkScope& operator=(const WorkScope&) = delete;

 private:
  NetComponent& component_;
  WorkMode mode_;
};

int64_t ElapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace

IOHandler::IOHandler()
    : inputBuffer_(TextEncoding::kAscii,
                   [this](std::size_t count) { DoWork(wmRead, static_cast<int64_t>(count)); }) {}

IOHandler::~IOHandler() = default;

void IOHandler::SetDefStringEncoding(TextEncoding encoding) {
  defStringEncoding_ = encoding == TextEncoding::kDefault ? TextEncoding::kAscii : encoding;
  inputBuffer_.SetEncoding(defStringEncoding_);
}

void SplitDestination(const std::string& destination, std::string& host, uint16_t& port) {
  const std::size_t colon = destination.rfind(':');
  if (colon == std::string::npos) {
    host = destination;
    return;
  }
  host = destination.substr(0, colon);
  const std::string digits = destination.substr(colon + 1);
  unsigned value = 0;
  const bool valid = ascii::IsDigits(digits) && digits.size() <= 5;
  if (valid) {
    for (char c : digits) value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (valid && value <= 65535) port = static_cast<uint16_t>(value);
}

std::string IOHandler::Destination() const { return host_ + ":" + std::to_string(port_); }

void IOHandler::SetDestination(const std::string& destination) {
  SplitDestination(destination, host_, port_);
}

void IOHandler::Open() {
  opened_ = false;
  closedGracefully_ = false;
  WriteBufferClear();
  inputBuffer_.Clear();
  opened_ = true;
}

void IOHandler::Close() {
  opened_ = false;
  WriteBufferClear();
}

bool IOHandler::Connected() {
  CheckForDisconnect(false, false);
  return opened_ && (!closedGracefully_ || !InputBufferIsEmpty());
}

bool IOHandler::CheckForDataOnSource(int milliseconds) {
  const std::size_t before = inputBuffer_.Size();
  if (!Connected()) return false;
  // A handler's Connected may itself receive what is waiting (IOHandlerStack's does): those
  // bytes have arrived, and a wait now would see only what follows them, perhaps the close.
  if (inputBuffer_.Size() > before) return true;
  return ReceiveIntoBuffer(false, milliseconds, false) > 0;
}

int IOHandler::ReceiveIntoBuffer(bool raise_if_disconnected, int timeout, bool raise_on_timeout) {
  if (timeout == kTimeoutDefault) {
    timeout =
        (readTimeout_ == kTimeoutDefault || readTimeout_ == 0) ? kTimeoutInfinite : readTimeout_;
  }
  CheckForDisconnect(raise_if_disconnected, false);
  if (!SourceIsAvailable()) {
    if (raise_if_disconnected) throw NetError(kMsgNotConnected);
    return 0;
  }
  std::size_t count = 0;
  do {
    count = 0;
    if (!WaitReadable(timeout)) {
      if (raise_on_timeout) throw NetReadTimeout();
      return -1;
    }
    if (!opened_) {
      if (raise_if_disconnected) throw NetNotConnected();
    } else if (!SourceIsAvailable()) {
      if (raise_if_disconnected) throw NetClosedSocket();
    } else {
      receiveBlock_.resize(static_cast<std::size_t>(recvBufferSize_));
      count = ReadDataFromSource(receiveBlock_.data(), receiveBlock_.size());
      if (count > 0) {
        inputBuffer_.Write(receiveBlock_.data(), count);
      } else {
        closedGracefully_ = true;
      }
    }
    CheckForDisconnect(raise_if_disconnected, false);
  } while (count == 0 && opened_ && SourceIsAvailable());
  return static_cast<int>(count);
}

void IOHandler::CheckLimits() const {
  if (limits_.Cancel != nullptr && limits_.Cancel->load()) throw NetFetchCancelled();
  if (limits_.Deadline && std::chrono::steady_clock::now() >= *limits_.Deadline) {
    throw NetFetchTimeout(limits_.BudgetMs);
  }
}

int IOHandler::LimitSlice(int milliseconds) const {
  int64_t slice = milliseconds;
  const auto cap = [&slice](int64_t most) {
    if (slice < 0 || slice > most) slice = most;
  };
  if (limits_.Deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          *limits_.Deadline - std::chrono::steady_clock::now())
                          .count();
    // Rounded up, so that the wait ends past the deadline and the check after it fires.
    cap(std::clamp<int64_t>(left + 1, 1, std::numeric_limits<int>::max()));
  }
  if (limits_.Cancel != nullptr) cap(kCancelPollMs);
  return static_cast<int>(slice);
}

bool IOHandler::WaitReadable(int timeout) {
  if (timeout == 0 || !HasLimits()) return Readable(timeout);
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    CheckLimits();
    const int left = timeout < 0
                         ? kTimeoutInfinite
                         : static_cast<int>(std::max<int64_t>(timeout - ElapsedMs(start), 0));
    if (Readable(LimitSlice(left))) return true;
    if (timeout >= 0 && ElapsedMs(start) >= timeout) return false;
  }
}

std::string IOHandler::ReadLn(std::string_view terminator, int timeout, int max_line_length,
                              TextEncoding encoding) {
  if (encoding == TextEncoding::kDefault) encoding = defStringEncoding_;
  if (max_line_length < 0) max_line_length = maxLineLength_;
  if (terminator.empty()) terminator = "\n";
  const auto max = static_cast<int64_t>(max_line_length);
  const auto term_length = static_cast<int64_t>(terminator.size());
  readLnSplit_ = false;
  readLnTimedOut_ = false;
  const auto start = std::chrono::steady_clock::now();
  int64_t search_pos = 0;
  int64_t term_pos = -1;
  for (;;) {
    const auto size = static_cast<int64_t>(inputBuffer_.Size());
    if (size > 0) {
      if (search_pos < size) term_pos = inputBuffer_.IndexOf(terminator, search_pos);
      // Restart just before the end, so that a terminator split across receives is found.
      search_pos = std::max<int64_t>(size - (term_length - 1), 0);
    }
    // Too long once the terminator lies past the maximum, or, before it has come, once more
    // than the maximum is buffered: waiting for it would only let the buffer grow.
    const bool too_long =
        max > 0 && (term_pos > max || (term_pos < 0 && size - (term_length - 1) > max));
    if (too_long) {
      if (maxLineAction_ == maException) throw NetReadLnMaxLineLengthExceeded();
      readLnSplit_ = true;
      return inputBuffer_.Extract(max, encoding);
    }
    if (term_pos >= 0) break;
    CheckForDisconnect(true, true);
    const int received = ReceiveIntoBuffer(true, timeout, false);
    if (received == -1 || (timeout >= 0 && ElapsedMs(start) >= timeout)) {
      readLnTimedOut_ = true;
      return std::string();
    }
  }
  std::string line = inputBuffer_.Extract(term_pos, encoding);
  inputBuffer_.Remove(terminator.size());
  if (terminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void IOHandler::FillInputBuffer(std::size_t count) {
  while (inputBuffer_.Size() < count) {
    ReceiveIntoBuffer(false, kTimeoutDefault, true);
    if (inputBuffer_.Size() >= count) break;
    CheckForDisconnect(true, true);
  }
}

void IOHandler::ReadBytes(std::vector<uint8_t>& bytes, int64_t count, bool append) {
  if (count > 0) {
    FillInputBuffer(static_cast<std::size_t>(count));
    inputBuffer_.ExtractToBytes(bytes, count, append);
  } else if (count < 0) {
    ReceiveIntoBuffer(false, readTimeout_, false);
    CheckForDisconnect(true, true);
    inputBuffer_.ExtractToBytes(bytes, -1, append);
  }
}

void IOHandler::ReadStream(Stream& stream, int64_t count, bool read_until_disconnect) {
  if (count == -1 && !read_until_disconnect) {
    std::vector<uint8_t> prefix;
    ReadBytes(prefix, largeStream_ ? 8 : 4, false);
    uint64_t length = 0;
    for (uint8_t b : prefix) length = (length << 8) | b;
    count = largeStream_
                ? static_cast<int64_t>(length)
                : static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(length)));
    // A negative announced length would mean "until disconnect"; refuse it instead.
    if (count < 0) throw NetIOHandlerStreamDataTooLarge();
  }
  if (count < 0) read_until_disconnect = true;
  if (read_until_disconnect) count = -1;

  if (count >= 0) {
    const int64_t position = stream.Position();
    if (count > std::numeric_limits<int64_t>::max() - position) {
      throw NetIOHandlerStreamDataTooLarge();
    }
    if (count <= kMaxPresize) stream.Reserve(position + count);
  }

  // Cuts the stream where the bytes that arrived end, also when the read fails.
  struct CutAtPosition {
    Stream& stream;
    ~CutAtPosition() {
      if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
    }
  } cut{stream};
  WorkScope work(*this, wmRead, count > 0 ? count : 0);

  int64_t rest = count;
  {
    const auto buffered = static_cast<int64_t>(inputBuffer_.Size());
    const int64_t take = read_until_disconnect ? buffered : std::min(rest, buffered);
    inputBuffer_.ExtractToStream(stream, take);
    if (!read_until_disconnect) rest -= take;
  }
  const auto block = static_cast<int64_t>(recvBufferSize_);
  for (;;) {
    const int64_t piece = read_until_disconnect ? block : std::min(rest, block);
    if (piece < 1) break;
    try {
      FillInputBuffer(static_cast<std::size_t>(piece));
    } catch (const NetConnClosedGracefully&) {
      inputBuffer_.ExtractToStream(stream,
                                   std::min(piece, static_cast<int64_t>(inputBuffer_.Size())));
      if (read_until_disconnect) break;
      throw;
    } catch (...) {
      inputBuffer_.ExtractToStream(stream,
                                   std::min(piece, static_cast<int64_t>(inputBuffer_.Size())));
      throw;
    }
    inputBuffer_.ExtractToStream(stream, piece);
    if (!read_until_disconnect) rest -= piece;
  }
}

void IOHandler::Discard(int64_t count) {
  if (count <= 0) return;
  NullStream sink;
  ReadStream(sink, count, false);
}

void IOHandler::DiscardAll() {
  NullStream sink;
  ReadStream(sink, -1, true);
}

void IOHandler::Write(std::string_view text, TextEncoding encoding) {
  if (text.empty()) return;
  const std::string bytes =
      ConvertText(text, encoding == TextEncoding::kDefault ? defStringEncoding_ : encoding);
  Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void IOHandler::WriteLn(std::string_view text, TextEncoding encoding) {
  std::string line(text);
  line += "\r\n";
  Write(line, encoding);
}

void IOHandler::Write(const uint8_t* data, std::size_t length) {
  if (length == 0) return;
  if (writeBuffer_ == nullptr) {
    WriteDirect(data, length);
    return;
  }
  writeBuffer_->Write(data, length);
  if (writeBufferThreshold_ > 0) {
    const auto threshold = static_cast<std::size_t>(writeBufferThreshold_);
    while (writeBuffer_ != nullptr && writeBuffer_->Size() >= threshold) {
      WriteBufferFlush(writeBufferThreshold_);
    }
  }
}

void IOHandler::Write(Stream& stream, int64_t size, bool write_byte_count) {
  if (size < 0) {
    stream.SetPosition(0);
    size = stream.Size();
  } else if (size == 0) {
    size = std::max<int64_t>(0, stream.Size() - stream.Position());
  } else {
    size = std::min(size, std::max<int64_t>(0, stream.Size() - stream.Position()));
  }
  if (write_byte_count) {
    const int width = largeStream_ ? 8 : 4;
    uint8_t prefix[8];
    const auto value = static_cast<uint64_t>(size);
    for (int i = 0; i < width; ++i) {
      prefix[i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
    }
    Write(prefix, static_cast<std::size_t>(width));
  }
  WorkScope work(*this, wmWrite, size);
  std::vector<uint8_t> piece(static_cast<std::size_t>(sendBufferSize_));
  while (size > 0) {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(size, sendBufferSize_));
    const std::size_t got = stream.Read(piece.data(), want);
    if (got == 0) break;
    Write(piece.data(), got);
    size -= static_cast<int64_t>(got);
  }
}

void IOHandler::WriteDirect(const uint8_t* data, std::size_t length) {
  CheckForDisconnect(true, true);
  std::size_t sent = 0;
  while (sent < length) {
    const std::size_t n = WriteDataToTarget(data + sent, length - sent);
    if (n == 0) closedGracefully_ = true;
    CheckForDisconnect(true, false);
    DoWork(wmWrite, static_cast<int64_t>(n));
    sent += n;
  }
}

void IOHandler::WriteBufferOpen(int threshold) {
  if (writeBuffer_ != nullptr) {
    writeBuffer_->Clear();
  } else {
    writeBuffer_ = std::make_unique<ByteQueue>(defStringEncoding_);
  }
  writeBufferThreshold_ = threshold;
}

void IOHandler::WriteBufferClose() {
  try {
    WriteBufferFlush(-1);
  } catch (...) {
    writeBuffer_.reset();
    throw;
  }
  writeBuffer_.reset();
}

void IOHandler::WriteBufferCancel() {
  WriteBufferClear();
  writeBuffer_.reset();
}

void IOHandler::WriteBufferFlush(int64_t count) {
  if (writeBuffer_ == nullptr || writeBuffer_->Size() == 0) return;
  std::vector<uint8_t> bytes;
  writeBuffer_->ExtractToBytes(
      bytes, count < 0 ? -1 : std::min(count, static_cast<int64_t>(writeBuffer_->Size())));
  WriteDirect(bytes.data(), bytes.size());
}

void IOHandler::WriteBufferClear() {
  if (writeBuffer_ != nullptr) writeBuffer_->Clear();
}

}  // namespace brevis
