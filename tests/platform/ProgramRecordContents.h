#pragma once

#include "platform/VersionRecord.h"

// The version record the program should carry, written out independently of
// the tool that makes it.
inline platform::TVersionRecordContents ProgramRecordContents() {
  platform::TVersionRecordContents contents;
  contents.FileVersion = {0, 3, 0, 0};
  contents.ProductVersion = {0, 3, 0, 0};
  contents.FileOS = 4;
  contents.FileType = 1;
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
