#pragma once
#include <string_view>
#include <utility>

#include "support/Log.h"

namespace varlow {

// Runs an operation's body inside one catch-all handler. A failure of any kind is logged as
// "wex: Error in <where> call..." and swallowed; what the body changed before it stays changed.
// `where` is "Class.Operation" for a method, the function name for a free function.
// Returns true when the body ran to its end.
template <class Body>
bool Trap(std::string_view where, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    try {
      std::string message = "wex: Error in ";
      message += where;
      message += " call...";
      LogMessage(message);
    } catch (...) {
    }
    return false;
  }
}

} // namespace varlow
