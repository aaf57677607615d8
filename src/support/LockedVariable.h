#pragma once
#include <cstdint>
#include <mutex>

namespace varlow {

// A single value guarded by its own re-entrant lock, safe to read and write from any thread.
// There are no compound operations: a read-modify-write needs a lock of the caller's own.
template <class T>
class TBaseLockedVariable {
public:
  TBaseLockedVariable() = default;
  TBaseLockedVariable(const TBaseLockedVariable&) = delete;
  TBaseLockedVariable& operator=(const TBaseLockedVariable&) = delete;

  T Value() const {
    std::lock_guard guard(FLock);
    return FValue;
  }
  void SetValue(T value) {
    std::lock_guard guard(FLock);
    FValue = value;
  }

private:
  mutable std::recursive_mutex FLock;
  T FValue{};
};

using TLockedInteger = TBaseLockedVariable<std::int32_t>;
using TLockedDouble = TBaseLockedVariable<double>;

} // namespace varlow
