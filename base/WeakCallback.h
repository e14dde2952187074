// Callbacks that silently do nothing once the object they call into is gone.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace nbase {

// The token whose lifetime stands for the owner's. Callbacks hold it weakly.
class WeakFlag {};

// Wraps a callable with a weak reference to a flag. Calling it forwards to the callable only
// while the flag lives; afterwards it returns a value-initialised result. The check and the
// call are not atomic against another thread destroying the owner: owners destroy themselves
// on the thread their callbacks run on.
template <typename F>
class WeakCallback {
 public:
  WeakCallback(std::weak_ptr<WeakFlag> flag, F callable)
      : flag_(std::move(flag)), callable_(std::move(callable)) {}

  template <typename... Args>
  auto operator()(Args&&... args) -> std::invoke_result_t<F&, Args&&...> {
    return Invoke(callable_, std::forward<Args>(args)...);
  }
  template <typename... Args>
  auto operator()(Args&&... args) const -> std::invoke_result_t<const F&, Args&&...> {
    return Invoke(callable_, std::forward<Args>(args)...);
  }

  bool Expired() const { return flag_.expired(); }

 private:
  template <typename G, typename... Args>
  auto Invoke(G& callable, Args&&... args) const {
    using Result = std::invoke_result_t<G&, Args&&...>;
    // Holding the flag for the duration of the call keeps a callback that destroys its own
    // owner from reading a freed control block when it returns.
    const std::shared_ptr<WeakFlag> alive = flag_.lock();
    if constexpr (std::is_void_v<Result>) {
      if (alive) callable(std::forward<Args>(args)...);
    } else {
      if (alive) return callable(std::forward<Args>(args)...);
      return Result{};
    }
  }

  std::weak_ptr<WeakFlag> flag_;
  F callable_;
};

// Base of every object that defers calls into itself. The flag is made on first use and dies
// with the object, which kills every callback made from it, queued or not.
class SupportWeakCallback {
 public:
  SupportWeakCallback() = default;
  virtual ~SupportWeakCallback() = default;
  // A copy is a different object: it must not share the original's callbacks.
  SupportWeakCallback(const SupportWeakCallback&) {}
  SupportWeakCallback& operator=(const SupportWeakCallback&) { return *this; }

  std::weak_ptr<WeakFlag> GetWeakFlag();

  template <typename F>
  auto ToWeakCallback(F&& callable) {
    return WeakCallback<std::decay_t<F>>(GetWeakFlag(), std::forward<F>(callable));
  }

 protected:
  // Drops the current flag; callbacks made so far become no-ops, later ones use a new flag.
  void ResetWeakFlag();
  bool HasWeakFlag() const;

 private:
  // Accessed with the atomic shared_ptr operations: a proxy's or thread's flag may be asked
  // for from several threads at once.
  std::shared_ptr<WeakFlag> weak_flag_;
};

// A cancellation handle kept as a member: cancelling invalidates the callbacks made from it
// without destroying the object that holds it.
class WeakCallbackFlag final : public SupportWeakCallback {
 public:
  void Cancel() { ResetWeakFlag(); }
  // True once a callback was made since construction or the last Cancel.
  bool HasUsed() const { return HasWeakFlag(); }
};

}  // namespace nbase
