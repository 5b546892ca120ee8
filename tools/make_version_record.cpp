// Writes the program's version record as a C++ source that places its bytes in
// a section of their own, so that the program can read them back from its file.
#include "platform/VersionInfo.h"
#include "platform/VersionRecord.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// "1.2.3" or "1.2.3.4" as four numbers; nullopt for anything else.
std::optional<std::array<uint16_t, 4>> VersionNumbers(const std::string& Text) {
  std::array<uint16_t, 4> numbers{};
  std::istringstream in(Text);
  size_t count = 0;
  for (std::string part; std::getline(in, part, '.');) {
    if (count == numbers.size() || part.empty() || part.size() > 5 ||
        part.find_first_not_of("0123456789") != std::string::npos || std::stoul(part) > 65535)
      return std::nullopt;
    numbers[count++] = static_cast<uint16_t>(std::stoul(part));
  }
  if (count < 3)
    return std::nullopt;
  return numbers;
}

std::string VersionText(const std::array<uint16_t, 4>& Numbers) {
  return std::to_string(Numbers[0]) + '.' + std::to_string(Numbers[1]) + '.' +
         std::to_string(Numbers[2]) + '.' + std::to_string(Numbers[3]);
}

// The file version is the build's; the product version string is the
// product line's own and does not follow the file.
platform::TVersionRecordContents ProgramRecord(const std::array<uint16_t, 4>& Version) {
  platform::TVersionRecordContents contents;
  contents.FileVersion = Version;
  contents.ProductVersion = Version;
  contents.FileOS = platform::VOS_WINDOWS32;
  contents.FileType = platform::VFT_APP;
  contents.StringTables = {{"040904E4",
                            {{"CompanyName", "Zandrel Imaging"},
                             {"FileDescription", "Zandrel Viewer"},
                             {"FileVersion", VersionText(Version)},
                             {"InternalName", ""},
                             {"LegalCopyright", ""},
                             {"LegalTrademarks", ""},
                             {"OriginalFilename", ""},
                             {"ProductName", ""},
                             {"ProductVersion", "1.0.0.0"},
                             {"Comments", ""}}}};
  contents.Translations = {{0x0409, 0x04E4}};
  return contents;
}

std::string SourceText(const std::vector<uint8_t>& Record) {
  std::string text = "// Written by make_version_record at build time.\n"
                     "[[gnu::used, gnu::section(\"";
  text += platform::VersionSectionName;
  text += "\")]] alignas(4) extern const unsigned char ZandrelVersionRecord[] = {";
  for (size_t i = 0; i < Record.size(); ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "0x%02X,", Record[i]);
    text += i % 12 == 0 ? "\n    " : " ";
    text += number;
  }
  text += "\n};\n";
  return text;
}

} // namespace

int main(int argc, char** argv) {
  const std::optional<std::array<uint16_t, 4>> version =
      argc == 3 ? VersionNumbers(argv[2]) : std::nullopt;
  if (!version) {
    std::cerr << "usage: make_version_record <output.cpp> <major.minor.patch[.build]>\n";
    return 2;
  }
  try {
    const std::string text = SourceText(platform::BuildVersionRecord(ProgramRecord(*version)));
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      std::cerr << "make_version_record: cannot write " << argv[1] << '\n';
      return 1;
    }
  } catch (const std::exception& error) {
    std::cerr << "make_version_record: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
