#pragma once

#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

// Saves the locale variables and puts them back when the test is done.
class TLocaleEnvironment {
public:
  TLocaleEnvironment() {
    for (const char* name : Names) {
      const char* value = std::getenv(name);
      FSaved.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~TLocaleEnvironment() {
    for (size_t i = 0; i < std::size(Names); ++i)
      Set(Names[i], FSaved[i] ? FSaved[i]->c_str() : nullptr);
  }
  TLocaleEnvironment(const TLocaleEnvironment&) = delete;
  TLocaleEnvironment& operator=(const TLocaleEnvironment&) = delete;

  static void Set(const char* Name, const char* Value) {
    if (Value != nullptr)
      ::setenv(Name, Value, 1);
    else
      ::unsetenv(Name);
  }

  static constexpr const char* Names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

private:
  std::vector<std::optional<std::string>> FSaved;
};
