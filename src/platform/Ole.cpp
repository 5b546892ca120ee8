#include "platform/Ole.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

// A handle is the address of its block record; the set of live records lets a
// stale or foreign handle fail cleanly instead of being dereferenced.
struct TGlobalBlock {
  std::unique_ptr<uint8_t[]> Bytes;
  size_t Size = 0;
  int LockCount = 0;
};

struct TGlobalHeap {
  std::mutex Lock;
  std::unordered_map<HGLOBAL, std::unique_ptr<TGlobalBlock>> Blocks;

  TGlobalBlock* Find(HGLOBAL Memory) {
    auto found = Blocks.find(Memory);
    return found == Blocks.end() ? nullptr : found->second.get();
  }
};

// Never destroyed: handles may be freed from static destructors of other modules.
TGlobalHeap& GlobalHeap() {
  static auto* heap = new TGlobalHeap;
  return *heap;
}

} // namespace

HGLOBAL GlobalAlloc(UINT /*Flags*/, size_t Bytes) {
  auto block = std::make_unique<TGlobalBlock>();
  if (Bytes > 0) {
    block->Bytes.reset(new (std::nothrow) uint8_t[Bytes]());
    if (!block->Bytes)
      return nullptr;
  }
  block->Size = Bytes;
  HGLOBAL handle = block.get();
  TGlobalHeap& heap = GlobalHeap();
  std::lock_guard guard(heap.Lock);
  heap.Blocks.emplace(handle, std::move(block));
  return handle;
}

void* GlobalLock(HGLOBAL Memory) {
  TGlobalHeap& heap = GlobalHeap();
  std::lock_guard guard(heap.Lock);
  TGlobalBlock* block = heap.Find(Memory);
  if (!block || block->Size == 0)
    return nullptr;
  ++block->LockCount;
  return block->Bytes.get();
}

BOOL GlobalUnlock(HGLOBAL Memory) {
  TGlobalHeap& heap = GlobalHeap();
  std::lock_guard guard(heap.Lock);
  TGlobalBlock* block = heap.Find(Memory);
  if (!block || block->LockCount == 0)
    return 0;
  return --block->LockCount > 0 ? 1 : 0;
}

size_t GlobalSize(HGLOBAL Memory) {
  TGlobalHeap& heap = GlobalHeap();
  std::lock_guard guard(heap.Lock);
  TGlobalBlock* block = heap.Find(Memory);
  return block ? block->Size : 0;
}

HGLOBAL GlobalFree(HGLOBAL Memory) {
  TGlobalHeap& heap = GlobalHeap();
  std::lock_guard guard(heap.Lock);
  return heap.Blocks.erase(Memory) == 1 ? nullptr : Memory;
}

void ReleaseStgMedium(STGMEDIUM* Medium) {
  if (!Medium)
    return;
  switch (Medium->tymed) {
  case TYMED_HGLOBAL:
    if (!Medium->pUnkForRelease && Medium->hGlobal)
      GlobalFree(Medium->hGlobal);
    break;
  case TYMED_ISTREAM:
    if (Medium->pstm)
      Medium->pstm->Release();
    break;
  default:
    break;
  }
  if (Medium->pUnkForRelease)
    Medium->pUnkForRelease->Release();
  *Medium = STGMEDIUM{};
}

namespace {

std::string FoldCase(std::string_view Name) {
  std::string folded(Name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

struct TFormatRegistry {
  std::mutex Lock;
  std::unordered_map<std::string, UINT> IdByFoldedName;
  std::vector<std::string> NameById; // index = id - FirstRegisteredClipboardFormat
};

TFormatRegistry& FormatRegistry() {
  static auto* registry = new TFormatRegistry;
  return *registry;
}

constexpr size_t RegisteredFormatCapacity = 0x10000 - FirstRegisteredClipboardFormat;

} // namespace

UINT RegisterClipboardFormatA(const char* Name) {
  if (!Name || !*Name)
    return 0;
  TFormatRegistry& registry = FormatRegistry();
  std::string folded = FoldCase(Name);
  std::lock_guard guard(registry.Lock);
  if (auto found = registry.IdByFoldedName.find(folded); found != registry.IdByFoldedName.end())
    return found->second;
  if (registry.NameById.size() >= RegisteredFormatCapacity)
    return 0;
  UINT id = FirstRegisteredClipboardFormat + static_cast<UINT>(registry.NameById.size());
  registry.NameById.emplace_back(Name);
  registry.IdByFoldedName.emplace(std::move(folded), id);
  return id;
}

int GetClipboardFormatNameA(UINT Format, char* Buffer, int MaxCount) {
  if (!Buffer || MaxCount < 1 || Format < FirstRegisteredClipboardFormat)
    return 0;
  TFormatRegistry& registry = FormatRegistry();
  std::lock_guard guard(registry.Lock);
  size_t index = Format - FirstRegisteredClipboardFormat;
  if (index >= registry.NameById.size())
    return 0;
  const std::string& name = registry.NameById[index];
  size_t count = std::min(name.size(), static_cast<size_t>(MaxCount - 1));
  std::memcpy(Buffer, name.data(), count);
  Buffer[count] = '\0';
  return static_cast<int>(count);
}

namespace {

// Each block carries its size in front so that GetSize needs no bookkeeping.
class TTaskAllocator final : public IMalloc {
public:
  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    if (!Object)
      return E_POINTER;
    if (Iid == IID_IUnknown || Iid == IID_IMalloc) {
      *Object = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  // Lives for the process; counts are not tracked.
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }

  void* Alloc(size_t Bytes) override {
    auto* header = static_cast<size_t*>(std::malloc(sizeof(std::max_align_t) + Bytes));
    if (!header)
      return nullptr;
    *header = Bytes;
    return reinterpret_cast<uint8_t*>(header) + sizeof(std::max_align_t);
  }
  void* Realloc(void* Block, size_t Bytes) override {
    if (!Block)
      return Alloc(Bytes);
    auto* header =
        static_cast<size_t*>(std::realloc(HeaderOf(Block), sizeof(std::max_align_t) + Bytes));
    if (!header)
      return nullptr;
    *header = Bytes;
    return reinterpret_cast<uint8_t*>(header) + sizeof(std::max_align_t);
  }
  void Free(void* Block) override {
    if (Block)
      std::free(HeaderOf(Block));
  }
  size_t GetSize(void* Block) override { return Block ? *HeaderOf(Block) : 0; }

private:
  static size_t* HeaderOf(void* Block) {
    return reinterpret_cast<size_t*>(static_cast<uint8_t*>(Block) - sizeof(std::max_align_t));
  }
};

TTaskAllocator& TaskAllocator() {
  static auto* allocator = new TTaskAllocator;
  return *allocator;
}

thread_local int OleInitCount = 0;

} // namespace

HRESULT CoGetMalloc(DWORD /*Context*/, IMalloc** Malloc) {
  if (!Malloc)
    return E_POINTER;
  *Malloc = &TaskAllocator();
  return S_OK;
}

void* CoTaskMemAlloc(size_t Bytes) {
  return TaskAllocator().Alloc(Bytes);
}

void CoTaskMemFree(void* Block) {
  TaskAllocator().Free(Block);
}

HRESULT OleInitialize(void* /*Reserved*/) {
  return OleInitCount++ == 0 ? S_OK : S_FALSE;
}

void OleUninitialize() {
  if (OleInitCount > 0)
    --OleInitCount;
}

} // namespace platform
