#include "platform/Ole.h"

#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace platform;

TEST(GlobalMemoryTest, BlocksAreZeroedSizedAndFreedOnce) {
  HGLOBAL memory = GlobalAlloc(GHND, 5);
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(GlobalSize(memory), 5u);
  auto* bytes = static_cast<uint8_t*>(GlobalLock(memory));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), std::string(5, '\0'));
  EXPECT_EQ(GlobalLock(memory), bytes) << "locks nest on the same block";
  EXPECT_NE(GlobalUnlock(memory), 0) << "still locked once";
  EXPECT_EQ(GlobalUnlock(memory), 0);
  EXPECT_EQ(GlobalFree(memory), nullptr);
  EXPECT_EQ(GlobalSize(memory), 0u);
  EXPECT_EQ(GlobalLock(memory), nullptr);
  EXPECT_EQ(GlobalFree(memory), memory) << "a second free fails";

  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalLock(empty), nullptr);
  EXPECT_EQ(GlobalFree(empty), nullptr);
  int local = 0;
  EXPECT_EQ(GlobalSize(&local), 0u) << "not a handle";
}

// Counts its references; Release to zero marks it gone.
class TCounted final : public IUnknown {
public:
  int Refs = 1;
  bool Gone = false;
  HRESULT QueryInterface(REFIID, void** Object) override {
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++Refs); }
  ULONG Release() override {
    Gone = --Refs == 0;
    return static_cast<ULONG>(Refs);
  }
};

TEST(ReleaseStgMediumTest, FreesMemoryOrHandsItBackToItsOwner) {
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = GlobalAlloc(GHND, 8);
  HGLOBAL memory = medium.hGlobal;
  ReleaseStgMedium(&medium);
  EXPECT_EQ(GlobalSize(memory), 0u);
  EXPECT_EQ(medium.tymed, TYMED_NULL);
  EXPECT_EQ(medium.hGlobal, nullptr);

  TCounted owner;
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = memory = GlobalAlloc(GHND, 8);
  medium.pUnkForRelease = &owner;
  ReleaseStgMedium(&medium);
  EXPECT_EQ(GlobalSize(memory), 8u) << "the owner frees it";
  EXPECT_TRUE(owner.Gone);
  GlobalFree(memory);
}

TEST(ComPtrTest, HoldsExactlyOneReference) {
  TCounted object;
  {
    ComPtr<IUnknown> first(&object);
    EXPECT_EQ(object.Refs, 2);
    ComPtr<IUnknown> second = first;
    EXPECT_EQ(object.Refs, 3);
    ComPtr<IUnknown> moved = std::move(second);
    EXPECT_EQ(object.Refs, 3);
    EXPECT_FALSE(second);
    first.Reset();
    EXPECT_EQ(object.Refs, 2);
  }
  EXPECT_EQ(object.Refs, 1);
  ComPtr<IUnknown> attached;
  object.AddRef();
  attached.Attach(&object);
  EXPECT_EQ(attached.Detach(), &object);
  EXPECT_EQ(object.Refs, 2);
}

TEST(ClipboardFormatRegistryTest, OneIdPerNameWithoutRegardToCase) {
  const UINT id = RegisterClipboardFormatA("Zandrel Registry Test");
  EXPECT_GE(id, 0xC000u);
  EXPECT_LE(id, 0xFFFFu);
  EXPECT_EQ(RegisterClipboardFormatA("zandrel REGISTRY test"), id);
  EXPECT_NE(RegisterClipboardFormatA("Zandrel Registry Test 2"), id);
  EXPECT_EQ(RegisterClipboardFormatA(""), 0u);
  EXPECT_EQ(RegisterClipboardFormatA(nullptr), 0u);

  char name[32];
  EXPECT_EQ(GetClipboardFormatNameA(id, name, sizeof name), 21);
  EXPECT_STREQ(name, "Zandrel Registry Test") << "the first spelling is kept";
  EXPECT_EQ(GetClipboardFormatNameA(id, name, 8), 7);
  EXPECT_STREQ(name, "Zandrel");
  EXPECT_EQ(GetClipboardFormatNameA(id, name, 0), 0);
  EXPECT_EQ(GetClipboardFormatNameA(CF_HDROP, name, sizeof name), 0) << "predefined: no name";
  EXPECT_EQ(GetClipboardFormatNameA(0xFFFF, name, sizeof name), 0);
}

TEST(ClipboardFormatRegistryTest, ThreadsRegisteringTheSameNamesAgree) {
  constexpr int Threads = 4;
  constexpr int Names = 50;
  std::vector<std::vector<UINT>> ids(Threads);
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t)
    threads.emplace_back([t, &ids] {
      for (int n = 0; n < Names; ++n)
        ids[static_cast<size_t>(t)].push_back(RegisterClipboardFormatA(
            ("Concurrent " + std::to_string((n + t * 7) % Names)).c_str()));
    });
  for (std::thread& thread : threads)
    thread.join();
  std::set<UINT> distinct;
  for (int n = 0; n < Names; ++n)
    distinct.insert(RegisterClipboardFormatA(("Concurrent " + std::to_string(n)).c_str()));
  EXPECT_EQ(distinct.size(), static_cast<size_t>(Names));
  for (int t = 0; t < Threads; ++t)
    for (int n = 0; n < Names; ++n)
      EXPECT_EQ(
          ids[static_cast<size_t>(t)][static_cast<size_t>(n)],
          RegisterClipboardFormatA(("Concurrent " + std::to_string((n + t * 7) % Names)).c_str()));
}

TEST(OleInitializeTest, CountedPerThread) {
  EXPECT_EQ(OleInitialize(nullptr), S_OK);
  EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
  HRESULT other = E_FAIL;
  std::thread([&] {
    other = OleInitialize(nullptr);
    OleUninitialize();
  }).join();
  EXPECT_EQ(other, S_OK);
  OleUninitialize();
  OleUninitialize();
  EXPECT_EQ(OleInitialize(nullptr), S_OK);
  OleUninitialize();
}

TEST(TaskAllocatorTest, BlocksKnowTheirSize) {
  IMalloc* malloc = nullptr;
  ASSERT_EQ(CoGetMalloc(1, &malloc), S_OK);
  void* block = malloc->Alloc(10);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(malloc->GetSize(block), 10u);
  std::memset(block, 'x', 10);
  block = malloc->Realloc(block, 100);
  EXPECT_EQ(malloc->GetSize(block), 100u);
  EXPECT_EQ(static_cast<char*>(block)[9], 'x');
  malloc->Free(block);
  void* task = CoTaskMemAlloc(3);
  EXPECT_NE(task, nullptr);
  CoTaskMemFree(task);
}

TEST(GuidTest, WellKnownInterfaceIds) {
  EXPECT_EQ(IID_IDataObject.Data1, 0x0000010Eu);
  EXPECT_EQ(IID_IDropTarget.Data1, 0x00000122u);
  EXPECT_EQ(IID_IDataObject.Data4[0], 0xC0);
  EXPECT_EQ(IID_IDataObject.Data4[7], 0x46);
  EXPECT_FALSE(IID_IUnknown == IID_IStream);
  EXPECT_TRUE(GUID_NULL == GUID{});
}

} // namespace
