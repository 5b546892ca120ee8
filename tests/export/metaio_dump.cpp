// Reads a MetaImage header with ITK's MetaIO library, as ITK-based tools do,
// and writes what it decoded: the sizes on one line, fastest first, then the
// voxels in the machine's (little-endian) byte order.
#include <cstdio>
#include <metaImage.h>

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  MetaImage image;
  if (!image.Read(argv[1], true))
    return 1;
  // As ITK does after reading: the voxels into the machine's byte order.
  image.ElementByteOrderFix();
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out)
    return 1;
  for (int axis = 0; axis < image.NDims(); ++axis)
    std::fprintf(out, axis ? " %d" : "%d", image.DimSize(axis));
  std::fputc('\n', out);
  int elementBytes = 0;
  MET_SizeOfType(image.ElementType(), &elementBytes);
  const size_t bytes = static_cast<size_t>(image.Quantity()) * static_cast<size_t>(elementBytes);
  const bool written = std::fwrite(image.ElementData(), 1, bytes, out) == bytes;
  return std::fclose(out) == 0 && written ? 0 : 1;
}
