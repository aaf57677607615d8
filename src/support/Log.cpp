#include "support/Log.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <limits.h>
#include <mutex>

namespace varlow {

namespace {

// The log's state: the prefix (the one global of the program) and the replaceable sink.
std::string& Prefix() {
  static std::string prefix;
  return prefix;
}

LogSink& Sink() {
  static LogSink sink;
  return sink;
}

// Atomic because a transrate run logs from its worker thread.
std::atomic<bool>& DebugEnabled() {
  static std::atomic<bool> enabled{true};
  return enabled;
}

// Lines come from the transrater's worker threads too: one at a time reaches the sink.
std::mutex& SinkLock() {
  static std::mutex lock;
  return lock;
}

} // namespace

void SetLogSink(LogSink sink) {
  std::lock_guard lock(SinkLock());
  Sink() = std::move(sink);
}

void OutputDebugStringA(std::string_view text) {
  std::lock_guard lock(SinkLock());
  if (Sink()) {
    Sink()(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
}

bool LogMessage(std::string_view message) {
  std::string line = Prefix();
  line += message;
  OutputDebugStringA(line);
  return true;
}

bool LogMessageFmt(std::string_view fmt, std::initializer_list<FormatArg> args) {
  return LogMessage(Format(fmt, args));
}

void SetDebugChannelEnabled(bool enabled) { DebugEnabled().store(enabled, std::memory_order_relaxed); }

bool DebugChannelEnabled() { return DebugEnabled().load(std::memory_order_relaxed); }

bool LogDebug(std::string_view message) {
  if (DebugChannelEnabled()) LogMessage(message);
  return true;
}

bool LogDebugFmt(std::string_view fmt, std::initializer_list<FormatArg> args) {
  const std::string message = Format(fmt, args);
  return LogDebug(message);
}

void OutputDebugChannelString(std::string_view text) {
  if (DebugChannelEnabled()) OutputDebugStringA(text);
}

void InitLogPrefix() {
  char path[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
  std::string_view full = n > 0 ? std::string_view(path, static_cast<std::size_t>(n)) : std::string_view();
  auto slash = full.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? full : full.substr(slash + 1);
  Prefix() = std::string(name) + ": ";
}

void ClearLogPrefix() { Prefix().clear(); }

const std::string& LogPrefix() { return Prefix(); }

ScopedLogCapture::ScopedLogCapture() {
  SetLogSink([this](std::string_view line) { lines_.emplace_back(line); });
}

ScopedLogCapture::~ScopedLogCapture() { SetLogSink({}); }

int ScopedLogCapture::Count(std::string_view suffix) const {
  int n = 0;
  for (const auto& l : lines_)
    if (l.size() >= suffix.size() && l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0) ++n;
  return n;
}

} // namespace varlow
