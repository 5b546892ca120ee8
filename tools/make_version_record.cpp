// Writes the program's version record as a C++ source that places its bytes in
// a section of their own, so that the program can read them back from its file.
#include "platform/VersionInfo.h"
#include "platform/VersionRecord.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

platform::TVersionRecordContents ProgramRecord() {
  platform::TVersionRecordContents contents;
  contents.FileVersion = {0, 3, 0, 0};
  contents.ProductVersion = {0, 3, 0, 0};
  contents.FileOS = platform::VOS_WINDOWS32;
  contents.FileType = platform::VFT_APP;
  contents.StringTables = {{"040904E4",
                            {{"CompanyName", "Zandrel Imaging"},
                             {"FileDescription", "Zandrel Viewer"},
                             {"FileVersion", "0.3.0.0"},
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
  if (argc != 2) {
    std::cerr << "usage: make_version_record <output.cpp>\n";
    return 2;
  }
  try {
    const std::string text = SourceText(platform::BuildVersionRecord(ProgramRecord()));
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
