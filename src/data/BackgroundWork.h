#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// One worker thread that runs one job at a time beside the thread that owns
// this object, started with the first job and ended by the destructor. Only
// the owner's thread calls its members.
class TBackgroundWork {
public:
  TBackgroundWork() = default;
  ~TBackgroundWork();
  TBackgroundWork(const TBackgroundWork&) = delete;
  TBackgroundWork& operator=(const TBackgroundWork&) = delete;

  // Waits for the job before, then hands Job to the worker.
  void Start(std::function<void()> Job);
  // Until the job started last has returned; what it threw is kept for Rethrow.
  void Wait();
  // Throws what the jobs waited for threw, once.
  void Rethrow();
  // Whether a job has been started and not waited for.
  bool Started() const { return FStarted; }

private:
  void Run();

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::function<void()> FJob; // the job handed over, until the worker takes it
  bool FRunning = false;      // handed over and not yet returned
  bool FQuit = false;
  std::exception_ptr FFailure;
  bool FStarted = false;
  std::thread FThread;
};
