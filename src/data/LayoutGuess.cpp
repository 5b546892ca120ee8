#include "data/LayoutGuess.h"

#include "platform/FileStream.h"

TLayoutGuess GuessLayout(const std::string& Name) {
  if (!platform::FileExists(Name))
    return {{}, "File does not exist"};
  try {
    platform::TFileStream stream(Name);
  } catch (const platform::EFOpenError& error) {
    return {{}, error.what()};
  }
  return {{}, "Nothing in the file suggests a layout"};
}
