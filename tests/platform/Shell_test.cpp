#include "platform/ItemIdLists.h"
#include "platform/Shell.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace platform;

using testing_shell::End;
using testing_shell::Fs;
using testing_shell::Item;

struct TCase {
  const char* Name;
  std::string List;
  bool Result;
  std::string Path;
};

TEST(SHGetPathFromIDListTest, JoinsFileSystemNamesBelowTheRoot) {
  const std::string longName(200, 'n');
  for (const TCase& c : {
           TCase{"two items", Fs("home") + Fs("vol.raw") + End, true, "/home/vol.raw"},
           TCase{"UTF-8 name", Fs("\xe4\xb8\x80") + End, true, "/\xe4\xb8\x80"},
           TCase{"empty list", End, true, "/"},
           TCase{"other kind", Fs("a") + Item(ITEMKIND_OTHER, "Printers") + End, false, ""},
           TCase{"unknown kind", Item(7, "a") + End, false, ""},
           TCase{"empty name", Fs("") + End, false, ""},
           TCase{"slash in a name", Fs("a/b") + End, false, ""},
           TCase{"zero in a name", Fs(std::string("a\0b", 3)) + End, false, ""},
           TCase{"item too short", std::string("\x02\x00", 2) + End, false, ""},
           TCase{"259 characters fit", Fs(longName) + Fs(std::string(57, 'm')) + End, true,
                 "/" + longName + "/" + std::string(57, 'm')},
           TCase{"260 do not", Fs(longName) + Fs(std::string(58, 'm')) + End, false, ""},
       }) {
    SCOPED_TRACE(c.Name);
    char path[MAX_PATH];
    std::memset(path, 'x', sizeof path);
    EXPECT_EQ(SHGetPathFromIDList(reinterpret_cast<LPCITEMIDLIST>(c.List.data()), path) != 0,
              c.Result);
    EXPECT_EQ(std::string(path), c.Path);
  }
  char path[MAX_PATH] = "x";
  EXPECT_EQ(SHGetPathFromIDList(nullptr, path), 0);
  EXPECT_STREQ(path, "");
}

TEST(SHGetMallocTest, IsTheTaskAllocator) {
  IMalloc* shell = nullptr;
  IMalloc* task = nullptr;
  ASSERT_EQ(SHGetMalloc(&shell), S_OK);
  ASSERT_EQ(CoGetMalloc(1, &task), S_OK);
  EXPECT_EQ(shell, task);
}

} // namespace
