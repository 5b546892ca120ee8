#pragma once

#include <utility>

namespace platform {

// Runs a clean-up when the scope ends, whether by return or by an exception,
// so that a lock, a medium or a reference is let go of on every path.
template <class TAction> class TScopeExit {
public:
  explicit TScopeExit(TAction Action)
      : FAction(std::move(Action)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

private:
  TAction FAction;
};

} // namespace platform
