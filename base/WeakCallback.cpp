// Lazy creation and reset of the weak flag behind SupportWeakCallback.
#include "base/WeakCallback.h"

namespace nbase {

std::weak_ptr<WeakFlag> SupportWeakCallback::GetWeakFlag() {
  std::shared_ptr<WeakFlag> flag = std::atomic_load(&weak_flag_);
  if (flag) return flag;
  auto fresh = std::make_shared<WeakFlag>();
  // Losing the race means another thread installed its flag first; hand out that one.
  if (std::atomic_compare_exchange_strong(&weak_flag_, &flag, fresh)) return fresh;
  return flag;
}

void SupportWeakCallback::ResetWeakFlag() {
  std::atomic_store(&weak_flag_, std::shared_ptr<WeakFlag>());
}

bool SupportWeakCallback::HasWeakFlag() const {
  return std::atomic_load(&weak_flag_) != nullptr;
}

}  // namespace nbase
