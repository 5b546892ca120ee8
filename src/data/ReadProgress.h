#pragma once

#include <atomic>
#include <cstdint>

// How many voxels from the start of a view's buffer a render has made final,
// told by the rendering thread to one reading beside it. A voxel once final
// is never written again until that reader has returned; the count may still
// end lower than it rose, when the render failed after all, and the reader
// must then count what the end says.
class TReadProgress {
public:
  struct TState {
    int64_t Voxels = 0;
    bool Ended = false;
  };

  // The first Voxels are final: their bytes are visible to whoever sees this count.
  void Publish(int64_t Voxels) {
    FState.store(Voxels * 2, std::memory_order_release);
    FState.notify_all();
  }
  // The render has ended with Voxels final; nothing more comes.
  void End(int64_t Voxels) noexcept {
    FState.store(Voxels * 2 + 1, std::memory_order_release);
    FState.notify_all();
  }
  // Until at least Want voxels are final or the render has ended.
  TState Await(int64_t Want) const {
    for (;;) {
      const int64_t state = FState.load(std::memory_order_acquire);
      const TState now{state >> 1, (state & 1) != 0};
      if (now.Ended || now.Voxels >= Want)
        return now;
      FState.wait(state, std::memory_order_acquire);
    }
  }

private:
  std::atomic<int64_t> FState{0}; // twice the voxels final, plus one once ended
};
