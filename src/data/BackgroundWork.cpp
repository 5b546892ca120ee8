#include "data/BackgroundWork.h"

#include <utility>

TBackgroundWork::~TBackgroundWork() {
  Wait();
  if (!FThread.joinable())
    return;
  {
    const std::lock_guard lock(FMutex);
    FQuit = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TBackgroundWork::Start(std::function<void()> Job) {
  Wait();
  {
    const std::lock_guard lock(FMutex);
    FJob = std::move(Job);
    FRunning = true;
  }
  FStarted = true;
  if (!FThread.joinable())
    FThread = std::thread([this] { Run(); });
  FChanged.notify_all();
}

void TBackgroundWork::Wait() {
  if (!FStarted)
    return;
  std::unique_lock lock(FMutex);
  FChanged.wait(lock, [this] { return !FRunning; });
  FStarted = false;
}

void TBackgroundWork::Rethrow() {
  std::exception_ptr failure;
  {
    const std::lock_guard lock(FMutex);
    failure = std::exchange(FFailure, nullptr);
  }
  if (failure)
    std::rethrow_exception(failure);
}

void TBackgroundWork::Run() {
  std::unique_lock lock(FMutex);
  for (;;) {
    FChanged.wait(lock, [this] { return FRunning || FQuit; });
    if (!FRunning)
      return;
    std::function<void()> job = std::move(FJob);
    lock.unlock();
    std::exception_ptr failure;
    try {
      job();
    } catch (...) {
      failure = std::current_exception();
    }
    // The job's captures go here, on the worker, before the owner can see it done.
    job = nullptr;
    lock.lock();
    if (failure && !FFailure)
      FFailure = failure;
    FRunning = false;
    FChanged.notify_all();
  }
}
