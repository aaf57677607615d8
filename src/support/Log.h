#pragma once
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "support/Format.h"

namespace varlow {

// The diagnostic log: one line per message on the debug channel (standard error by default),
// "<executable name>: <message>". Nothing logged here is ever shown to the user.

// Where finished lines go. Tests replace it to capture every line; an empty function restores
// standard error. Each call receives one line without its line end.
using LogSink = std::function<void(std::string_view line)>;
void SetLogSink(LogSink sink);

// Writes the text as one line to the debug channel, without the prefix (OutputDebugStringA).
void OutputDebugStringA(std::string_view text);

// Prefix + message to the debug channel. Always returns true.
bool LogMessage(std::string_view message);

// Formats with Format() and logs the result. A mismatched argument list throws to the caller.
bool LogMessageFmt(std::string_view fmt, std::initializer_list<FormatArg> args);

// The debug channel: developers' trace and diagnostic lines (those without the "wex: " lead, such
// as the frame-rate line and the slice walkers' traces). They are written like LogMessage's lines
// while the channel is on (the start state, which the window keeps); varlow-cli turns it off
// unless --verbose is given. Error lines ("wex: Error in ...") go through LogMessage and are
// never filtered. The arguments are formatted even when the channel is off, so a mismatched
// format fails the same way with and without --verbose.
void SetDebugChannelEnabled(bool enabled);
bool DebugChannelEnabled();
bool LogDebug(std::string_view message);
bool LogDebugFmt(std::string_view fmt, std::initializer_list<FormatArg> args);
// Writes the text as one debug line without the prefix (the bit dumps of the slice readers).
void OutputDebugChannelString(std::string_view text);

// Start-up and shutdown of the prefix: "<file name of /proc/self/exe>: ".
void InitLogPrefix();
void ClearLogPrefix();
const std::string& LogPrefix();

// Captures every line logged while it lives (restores standard error when it goes).
class ScopedLogCapture {
public:
  ScopedLogCapture();
  ~ScopedLogCapture();
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

  const std::vector<std::string>& Lines() const { return lines_; }
  // Number of captured lines that end with the given text (the prefix is ignored).
  int Count(std::string_view messageSuffix) const;
  void Clear() { lines_.clear(); }

private:
  std::vector<std::string> lines_;
};

} // namespace varlow
