#pragma once

#include "TempDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testfiles {

// The built program, started with exactly these argument bytes, without any
// display, its output kept in files of Dir.
class TProgramRun {
public:
  TProgramRun(const std::vector<std::string>& Arguments, const testfiles::TTempDir& Dir)
      : FOut(Dir.Path("stdout"))
      , FErr(Dir.Path("stderr")) {
    std::vector<std::string> texts{ZANDREL_PROGRAM_FILE};
    texts.insert(texts.end(), Arguments.begin(), Arguments.end());
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view variable(*entry);
      if (!variable.starts_with("DISPLAY=") && !variable.starts_with("WAYLAND_DISPLAY=") &&
          !variable.starts_with("QT_QPA_PLATFORM="))
        FEnvironment.emplace_back(variable);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, FErr.c_str(), O_WRONLY | O_CREAT, 0600);
    const int failed = posix_spawn(&FPid, texts.front().c_str(), &actions, nullptr,
                                   Pointers(texts).data(), Pointers(FEnvironment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
      throw std::runtime_error("cannot start the program");
  }
  ~TProgramRun() {
    if (FStatus < 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
  }
  TProgramRun(const TProgramRun&) = delete;
  TProgramRun& operator=(const TProgramRun&) = delete;

  pid_t Pid() const { return FPid; }
  bool Running() {
    int status = 0;
    if (FStatus < 0 && ::waitpid(FPid, &status, WNOHANG) == FPid)
      FStatus = status;
    return FStatus < 0;
  }
  // The exit code, or 128 plus the signal that ended it.
  int Wait() {
    for (int tick = 0; tick < 600 && Running(); ++tick)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (Running())
      return -1;
    return WIFEXITED(FStatus) ? WEXITSTATUS(FStatus) : 128 + WTERMSIG(FStatus);
  }
  std::string Out() const { return Contents(FOut); }
  std::string Err() const { return Contents(FErr); }

private:
  static std::vector<char*> Pointers(std::vector<std::string>& Texts) {
    std::vector<char*> pointers;
    for (std::string& text : Texts)
      pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
  }
  static std::string Contents(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  std::string FOut;
  std::string FErr;
  std::vector<std::string> FEnvironment;
  pid_t FPid = 0;
  int FStatus = -1;
};

} // namespace testfiles
