// The HDF5 reader and the library behind it, on a file held in memory. It is
// read twice: with the whole budget, and with one that runs out halfway, so
// that the library meets reads that fail as well as bytes that lie.
#include "guess/formats/Hdf5.h"

#include <cstdint>

using namespace guess;

namespace {

void ReadWithin(const uint8_t* Data, size_t Size, int64_t Budget) {
  TByteSource source({Data, Size}, Budget);
  const TContainerReading reading = ReadHdf5(source);
  if (source.Spent() > Budget)
    __builtin_trap();
  for (const TStatedLayout& layout : reading.Layouts) {
    if (layout.Dims.empty() || layout.DataStart < 0 || layout.Note.empty())
      __builtin_trap();
    for (int64_t dim : layout.Dims)
      if (dim < 1)
        __builtin_trap();
  }
  if (!reading.Layouts.empty() && !reading.NoRawVoxels.empty())
    __builtin_trap();
}

} // namespace

// The library allocates what a damaged size claims before it reads, and
// takes a null from malloc as an error; past a gigabyte the sanitizer's
// allocator answers null, as the C library does for a size no machine has,
// where it would abort or fill the shadow of the whole block. libhdf5 1.10.8
// leaks a little on some of its error paths (a failed open after the
// superblock, a damaged object header), so leaks are not findings here: the
// reader's own paths are leak-checked by its unit test.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024:detect_leaks=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  ReadWithin(Data, Size, TByteSource::DefaultBudget);
  ReadWithin(Data, Size, static_cast<int64_t>(Size / 2));
  return 0;
}
