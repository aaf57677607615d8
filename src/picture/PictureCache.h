#pragma once
#include <cstdint>
#include <list>
#include <mutex>
#include <utility>

#include "picture/DecodedPicture.h"

namespace varlow {

// The pictures decoded last, keyed by the file offset of their picture pack, the least recently
// used dropped first once the bytes held pass the budget. Safe to use from several threads.
class TPictureCache {
public:
  explicit TPictureCache(std::size_t budgetBytes) : FBudget(budgetBytes) {}

  TDecodedPicturePtr Find(std::int64_t offset);
  void Insert(std::int64_t offset, TDecodedPicturePtr picture);
  void Clear();
  std::size_t Count() const;

private:
  mutable std::mutex FLock;
  std::list<std::pair<std::int64_t, TDecodedPicturePtr>> FEntries;  // most recent first
  std::size_t FBytes = 0;
  std::size_t FBudget;
};

} // namespace varlow
