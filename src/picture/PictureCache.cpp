#include "picture/PictureCache.h"

namespace varlow {

TDecodedPicturePtr TPictureCache::Find(std::int64_t offset) {
  std::lock_guard lock(FLock);
  for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
    if (it->first != offset) continue;
    FEntries.splice(FEntries.begin(), FEntries, it);
    return FEntries.front().second;
  }
  return nullptr;
}

void TPictureCache::Insert(std::int64_t offset, TDecodedPicturePtr picture) {
  if (!picture) return;
  std::lock_guard lock(FLock);
  for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
    if (it->first != offset) continue;
    FBytes -= it->second->Bytes();
    FEntries.erase(it);
    break;
  }
  FBytes += picture->Bytes();
  FEntries.emplace_front(offset, std::move(picture));
  // The newest entry always stays, even when it alone is over the budget.
  while (FBytes > FBudget && FEntries.size() > 1) {
    FBytes -= FEntries.back().second->Bytes();
    FEntries.pop_back();
  }
}

void TPictureCache::Clear() {
  std::lock_guard lock(FLock);
  FEntries.clear();
  FBytes = 0;
}

std::size_t TPictureCache::Count() const {
  std::lock_guard lock(FLock);
  return FEntries.size();
}

} // namespace varlow
