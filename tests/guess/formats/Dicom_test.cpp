#include "data/VoxelDecoder.h"
#include "guess/formats/Dicom.h"

#include <cstring>
#include <gdcmAttribute.h>
#include <gdcmDataSet.h>
#include <gdcmSequenceOfFragments.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmUIDGenerator.h>
#include <gdcmWriter.h>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

using namespace guess;

namespace {

struct TImage {
  gdcm::TransferSyntax::TSType Syntax = gdcm::TransferSyntax::ExplicitVRLittleEndian;
  uint16_t Columns = 5, Rows = 3;
  std::string Frames = "1";
  uint16_t Bits = 16, Representation = 0, Samples = 1;
  uint16_t PixelElement = 0x0010;   // 0x0008 float, 0x0009 double
  uint32_t PrivateBytes = 0;        // a private OB before the pixels
  bool DefinedSequence = false;     // the sequence before the pixels states its length
  std::vector<uint8_t> Pixels = {}; // as this machine holds them
};

template <uint16_t G, uint16_t E, typename T> void Put(gdcm::DataSet& DataSet, T Value) {
  gdcm::Attribute<G, E> a;
  a.SetValue(Value);
  DataSet.Replace(a.GetAsDataElement());
}

void PutBytes(gdcm::DataSet& DataSet, gdcm::Tag Tag, gdcm::VR Vr, const std::vector<uint8_t>& B) {
  gdcm::DataElement e(Tag);
  e.SetVR(Vr);
  e.SetByteValue(reinterpret_cast<const char*>(B.data()), static_cast<uint32_t>(B.size()));
  DataSet.Replace(e);
}

// A Referenced Image Sequence of two items, one itself holding a sequence,
// so that the pixels lie behind nested items: as GDCM writes it, with
// undefined lengths, or with defined lengths encoded here, implicit VR little
// endian in a UN value as a sequence of unknown VR is held.
void AddSequence(gdcm::DataSet& DataSet, bool Defined) {
  gdcm::DataElement e(gdcm::Tag(0x0008, 0x1140));
  if (Defined) {
    auto le = [](std::vector<uint8_t>& Out, uint32_t V, int Bytes) {
      for (int i = 0; i < Bytes; ++i)
        Out.push_back(static_cast<uint8_t>(V >> (8 * i)));
    };
    auto element = [&](uint16_t Group, uint16_t Element, const std::vector<uint8_t>& Value) {
      std::vector<uint8_t> out;
      le(out, Group, 2), le(out, Element, 2), le(out, static_cast<uint32_t>(Value.size()), 4);
      out.insert(out.end(), Value.begin(), Value.end());
      return out;
    };
    const std::vector<uint8_t> uid = element(0x0008, 0x1155, {'1', '.', '2', '.', '3', 0});
    std::vector<uint8_t> inner = element(0x0008, 0x1140, element(0xFFFE, 0xE000, uid));
    inner.insert(inner.begin(), uid.begin(), uid.end());
    std::vector<uint8_t> items = element(0xFFFE, 0xE000, uid);
    const std::vector<uint8_t> second = element(0xFFFE, 0xE000, inner);
    items.insert(items.end(), second.begin(), second.end());
    e.SetVR(gdcm::VR::UN);
    e.SetByteValue(reinterpret_cast<const char*>(items.data()),
                   static_cast<uint32_t>(items.size()));
    DataSet.Replace(e);
    return;
  }
  auto item = [](const std::string& Uid) {
    gdcm::Item item;
    item.SetVLToUndefined();
    gdcm::Attribute<0x0008, 0x1155> ref;
    ref.SetValue(Uid);
    item.GetNestedDataSet().Insert(ref.GetAsDataElement());
    return item;
  };
  gdcm::SmartPointer<gdcm::SequenceOfItems> inner = new gdcm::SequenceOfItems;
  inner->AddItem(item("1.2.3.4.5"));
  gdcm::SmartPointer<gdcm::SequenceOfItems> outer = new gdcm::SequenceOfItems;
  outer->AddItem(item("1.2.3"));
  gdcm::Item holder = item("1.2.3.4");
  gdcm::DataElement innerElement(gdcm::Tag(0x0008, 0x1140));
  innerElement.SetVR(gdcm::VR::SQ);
  innerElement.SetValue(*inner);
  holder.GetNestedDataSet().Insert(innerElement);
  outer->AddItem(holder);
  e.SetVR(gdcm::VR::SQ);
  e.SetValue(*outer);
  e.SetVLToUndefined();
  DataSet.Replace(e);
}

// Count voxels whose values run through negatives and the type's high bits.
std::vector<uint8_t> PatternPixels(int64_t Count, int32_t Bytes, bool Float) {
  std::vector<uint8_t> out(static_cast<size_t>(Count * Bytes));
  for (int64_t i = 0; i < Count; ++i) {
    uint8_t* p = out.data() + i * Bytes;
    const int64_t v = (i * 2654435761LL) ^ (i << 9);
    if (Float && Bytes == 4) {
      const float f = static_cast<float>(i) * -1.5f + 0.25f;
      std::memcpy(p, &f, 4);
    } else if (Float) {
      const double d = static_cast<double>(i) * 1e10 - 3.0;
      std::memcpy(p, &d, 8);
    } else {
      std::memcpy(p, &v, static_cast<size_t>(Bytes));
    }
  }
  return out;
}

std::vector<uint8_t> WriteDicom(TImage& Image) {
  gdcm::Writer writer;
  gdcm::DataSet& ds = writer.GetFile().GetDataSet();
  gdcm::UIDGenerator uids;
  Put<0x0008, 0x0016>(ds, "1.2.840.10008.5.1.4.1.1.7");
  Put<0x0008, 0x0018>(ds, uids.Generate());
  Put<0x0028, 0x0002>(ds, Image.Samples);
  gdcm::DataElement frames(gdcm::Tag(0x0028, 0x0008));
  frames.SetVR(gdcm::VR::IS);
  std::string framesText = Image.Frames.size() % 2 ? Image.Frames + " " : Image.Frames;
  frames.SetByteValue(framesText.data(), static_cast<uint32_t>(framesText.size()));
  ds.Replace(frames);
  Put<0x0028, 0x0010>(ds, Image.Rows);
  Put<0x0028, 0x0011>(ds, Image.Columns);
  Put<0x0028, 0x0100>(ds, Image.Bits);
  Put<0x0028, 0x0101>(ds, Image.Bits);
  Put<0x0028, 0x0102>(ds, static_cast<uint16_t>(Image.Bits - 1));
  Put<0x0028, 0x0103>(ds, Image.Representation);
  AddSequence(ds, Image.DefinedSequence);
  if (Image.PrivateBytes > 0) {
    const std::string creator = "ZANDREL TEST";
    PutBytes(ds, gdcm::Tag(0x0009, 0x0010), gdcm::VR::LO, {creator.begin(), creator.end()});
    PutBytes(ds, gdcm::Tag(0x0009, 0x1000), gdcm::VR::OB,
             std::vector<uint8_t>(Image.PrivateBytes, 0x5A));
  }
  const bool isFloat = Image.PixelElement != 0x0010;
  if (Image.Pixels.empty())
    Image.Pixels = PatternPixels(int64_t{Image.Columns} * Image.Rows * std::stoll(Image.Frames),
                                 std::max(Image.Bits / 8, 1), isFloat);
  const gdcm::VR vr = Image.PixelElement == 0x0008   ? gdcm::VR::OF
                      : Image.PixelElement == 0x0009 ? gdcm::VR::OD
                      : Image.Bits == 8              ? gdcm::VR::OB
                                                     : gdcm::VR::OW;
  PutBytes(ds, gdcm::Tag(0x7FE0, Image.PixelElement), vr, Image.Pixels);
  writer.GetFile().GetHeader().SetDataSetTransferSyntax(Image.Syntax);
  std::ostringstream out;
  writer.SetStream(out);
  if (!writer.Write())
    throw std::runtime_error("GDCM could not write the test file");
  const std::string s = out.str();
  return {s.begin(), s.end()};
}

// The data set alone: past the preamble, "DICM" and the meta group, whose
// length (0002,0000) is its first element's value.
std::vector<uint8_t> Bare(const std::vector<uint8_t>& File) {
  uint32_t groupLength = 0;
  std::memcpy(&groupLength, File.data() + 140, 4);
  return {File.begin() + 144 + groupLength, File.end()};
}

// What of a Part 10 file a case keeps: all, the data set alone, or the meta
// group and data set without the preamble and "DICM".
enum TCut { Part10, DataSetOnly, NoPreamble };

int64_t Find(const std::vector<uint8_t>& File, std::vector<uint8_t> Needle) {
  const auto it = std::search(File.begin(), File.end(), Needle.begin(), Needle.end());
  return it == File.end() ? -1 : it - File.begin();
}

TContainerReading Read(const std::vector<uint8_t>& File, int64_t* Spent = nullptr) {
  TByteSource source(File);
  TContainerReading reading = ReadDicom(source);
  if (Spent != nullptr)
    *Spent = source.Spent();
  return reading;
}

using TS = gdcm::TransferSyntax;

TEST(Dicom, EveryNativeSyntaxTypeAndFramingReadsBackAsWritten) {
  struct TCase {
    gdcm::TransferSyntax::TSType Syntax;
    TCut Cut;
    uint16_t Bits, Representation, PixelElement;
    bool DefinedSequence;
    std::string Frames;
    TVoxelType Type;
  };
  const TCase cases[] = {
      {TS::ExplicitVRLittleEndian, Part10, 8, 0, 0x10, false, "1", vtByte},
      {TS::ExplicitVRLittleEndian, Part10, 8, 1, 0x10, true, "3", vtInt8},
      {TS::ExplicitVRLittleEndian, Part10, 16, 0, 0x10, false, "1", vtUInt16},
      {TS::ExplicitVRLittleEndian, DataSetOnly, 16, 1, 0x10, false, "4", vtInt16},
      {TS::ExplicitVRLittleEndian, NoPreamble, 32, 0, 0x10, true, "2", vtUInt32},
      {TS::ExplicitVRLittleEndian, Part10, 32, 1, 0x10, false, "1", vtInt32},
      {TS::ExplicitVRLittleEndian, Part10, 64, 1, 0x10, false, "2", vtInt64},
      {TS::ExplicitVRLittleEndian, Part10, 32, 0, 0x08, true, "2", vtFloat32},
      {TS::ExplicitVRLittleEndian, DataSetOnly, 64, 0, 0x09, false, "1", vtFloat64},
      {TS::ImplicitVRLittleEndian, Part10, 8, 0, 0x10, false, "2", vtByte},
      {TS::ImplicitVRLittleEndian, NoPreamble, 16, 1, 0x10, true, "1", vtInt16},
      {TS::ImplicitVRLittleEndian, DataSetOnly, 16, 0, 0x10, false, "3", vtUInt16},
      {TS::ImplicitVRLittleEndian, DataSetOnly, 32, 1, 0x10, true, "2", vtInt32},
      {TS::ExplicitVRBigEndian, Part10, 8, 0, 0x10, true, "1", vtByte},
      {TS::ExplicitVRBigEndian, NoPreamble, 16, 1, 0x10, false, "2", vtInt16},
      {TS::ExplicitVRBigEndian, DataSetOnly, 16, 0, 0x10, false, "1", vtUInt16},
      {TS::ExplicitVRBigEndian, Part10, 32, 0, 0x08, true, "2", vtFloat32},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(gdcm::TransferSyntax::GetTSString(c.Syntax)) + " bits " +
                 std::to_string(c.Bits) + " cut " + std::to_string(c.Cut) + " frames " + c.Frames);
    TImage image{.Syntax = c.Syntax,
                 .Frames = c.Frames,
                 .Bits = c.Bits,
                 .Representation = c.Representation,
                 .PixelElement = c.PixelElement,
                 .DefinedSequence = c.DefinedSequence};
    std::vector<uint8_t> file = WriteDicom(image);
    if (c.Cut == DataSetOnly)
      file = Bare(file);
    else if (c.Cut == NoPreamble)
      file.erase(file.begin(), file.begin() + 132);
    int64_t spent = 0;
    const TContainerReading reading = Read(file, &spent);
    EXPECT_EQ(reading.Format, "DICOM");
    EXPECT_LE(spent, TByteSource::DefaultBudget);
    ASSERT_EQ(reading.Layouts.size(), 1u) << reading.NoRawVoxels;
    const TStatedLayout& l = reading.Layouts[0];
    EXPECT_EQ(l.Dims, (std::vector<int64_t>{image.Columns, image.Rows, std::stoll(c.Frames)}));
    EXPECT_EQ(l.VoxelType, c.Type);
    const bool big = c.Syntax == TS::ExplicitVRBigEndian && c.Bits > 8;
    EXPECT_EQ(l.ByteOrder, big ? boBigEndian : boLittleEndian);
    const int32_t bytes = BytesPerVoxel[c.Type];
    const int64_t count = static_cast<int64_t>(image.Pixels.size()) / bytes;
    // An odd value ends with one byte of padding.
    ASSERT_EQ(l.DataStart + count * bytes + count * bytes % 2, std::ssize(file));
    for (int64_t i = 0; i < count; ++i) {
      const auto got = voxeldecoder::DecodeVoxel(file.data() + l.DataStart, i, c.Type, l.ByteOrder);
      const auto want = voxeldecoder::DecodeVoxel(image.Pixels.data(), i, c.Type, boLittleEndian);
      ASSERT_EQ(got.Kind, want.Kind);
      ASSERT_EQ(got.SignedValue, want.SignedValue) << "voxel " << i;
      ASSERT_EQ(got.UnsignedValue, want.UnsignedValue) << "voxel " << i;
      ASSERT_EQ(got.RealValue, want.RealValue) << "voxel " << i;
    }
  }
}

TEST(Dicom, PixelsPastTheBudgetBehindAHugePrivateValueStillRead) {
  TImage image{.PrivateBytes = 5u << 20};
  const std::vector<uint8_t> file = WriteDicom(image);
  int64_t spent = 0;
  const TContainerReading reading = Read(file, &spent);
  ASSERT_EQ(reading.Layouts.size(), 1u);
  EXPECT_EQ(reading.Layouts[0].DataStart + std::ssize(image.Pixels), std::ssize(file));
  EXPECT_LT(spent, 1 << 20);
}

TEST(Dicom, CompressedAndUnsupportedImagesSayWhy) {
  struct TCase {
    gdcm::TransferSyntax::TSType Syntax;
    uint16_t Bits, Samples;
    const char* Reason;
  };
  const TCase cases[] = {
      {TS::JPEGBaselineProcess1, 8, 1, "DICOM with JPEG-compressed pixel data"},
      {TS::JPEGLosslessProcess14_1, 16, 1, "DICOM with JPEG-compressed pixel data"},
      {TS::JPEGLSLossless, 16, 1, "DICOM with JPEG-LS-compressed pixel data"},
      {TS::JPEG2000Lossless, 16, 1, "DICOM with JPEG 2000-compressed pixel data"},
      {TS::RLELossless, 8, 1, "DICOM with RLE-compressed pixel data"},
      {TS::MPEG2MainProfile, 8, 1, "DICOM with MPEG-compressed pixel data"},
      {TS::DeflatedExplicitVRLittleEndian, 16, 1, "DICOM with a deflate-compressed data set"},
      {TS::ExplicitVRLittleEndian, 8, 3, "DICOM with 3 samples per pixel"},
      {TS::ExplicitVRLittleEndian, 1, 1, "DICOM with 1-bit packed pixel data"},
      {TS::ExplicitVRLittleEndian, 12, 1, "DICOM with 12-bit packed pixel data"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Reason);
    TImage image{.Syntax = c.Syntax, .Bits = c.Bits, .Samples = c.Samples};
    const gdcm::TransferSyntax ts(c.Syntax);
    if (ts.IsEncapsulated())
      image.Pixels = std::vector<uint8_t>(64, 0xAB); // replaced by fragments below
    else
      image.Pixels = std::vector<uint8_t>(size_t{image.Columns} * image.Rows * c.Samples * 2, 7);
    std::vector<uint8_t> file;
    if (ts.IsEncapsulated()) {
      gdcm::Writer writer;
      gdcm::DataSet& ds = writer.GetFile().GetDataSet();
      Put<0x0008, 0x0016>(ds, "1.2.840.10008.5.1.4.1.1.7");
      Put<0x0008, 0x0018>(ds, "1.2.3.4");
      Put<0x0028, 0x0010>(ds, image.Rows);
      Put<0x0028, 0x0011>(ds, image.Columns);
      Put<0x0028, 0x0100>(ds, image.Bits);
      gdcm::SmartPointer<gdcm::SequenceOfFragments> fragments = new gdcm::SequenceOfFragments;
      gdcm::Fragment fragment;
      fragment.SetByteValue(reinterpret_cast<const char*>(image.Pixels.data()), 64);
      fragments->AddFragment(fragment);
      gdcm::DataElement pixels(gdcm::Tag(0x7FE0, 0x0010));
      pixels.SetVR(gdcm::VR::OB);
      pixels.SetValue(*fragments);
      ds.Replace(pixels);
      writer.GetFile().GetHeader().SetDataSetTransferSyntax(ts);
      std::ostringstream out;
      writer.SetStream(out);
      ASSERT_TRUE(writer.Write());
      const std::string written = out.str();
      file.assign(written.begin(), written.end());
    } else {
      file = WriteDicom(image);
    }
    const TContainerReading reading = Read(file);
    EXPECT_EQ(reading.Format, "DICOM");
    EXPECT_TRUE(reading.Layouts.empty());
    EXPECT_EQ(reading.NoRawVoxels.rfind(c.Reason, 0), 0u) << reading.NoRawVoxels;
  }
}

TEST(Dicom, HostileFilesGiveNoLayoutWithinTheBudget) {
  TImage image{.Frames = "2", .PrivateBytes = 100};
  const std::vector<uint8_t> good = WriteDicom(image);
  const int64_t pixelTag = Find(good, {0xE0, 0x7F, 0x10, 0x00, 'O', 'W'});
  const int64_t rowsTag = Find(good, {0x28, 0x00, 0x10, 0x00, 'U', 'S'});
  const int64_t privateTag = Find(good, {0x09, 0x00, 0x00, 0x10, 'O', 'B'});
  const int64_t framesTag = Find(good, {0x28, 0x00, 0x08, 0x00, 'I', 'S'});
  ASSERT_GT(pixelTag, 0);
  ASSERT_GT(rowsTag, 0);
  ASSERT_GT(privateTag, 0);
  ASSERT_GT(framesTag, 0);
  ASSERT_EQ(Read(good).Layouts.size(), 1u);

  auto patched = [&](int64_t At, std::vector<uint8_t> Bytes) {
    std::vector<uint8_t> f = good;
    std::copy(Bytes.begin(), Bytes.end(), f.begin() + At);
    return f;
  };
  auto truncated = [&](int64_t Size) {
    return std::vector<uint8_t>(good.begin(), good.begin() + Size);
  };
  std::mt19937 random(7);
  std::vector<uint8_t> noise(1 << 16);
  for (uint8_t& b : noise)
    b = static_cast<uint8_t>(random());
  std::vector<uint8_t> noiseWithGroup8 = noise;
  noiseWithGroup8[0] = 0x08;
  noiseWithGroup8[1] = 0x00;

  const struct {
    const char* Name;
    std::vector<uint8_t> File;
    bool Dicom; // still to be called DICOM
  } cases[] = {
      {"empty", {}, false},
      {"cut in the preamble", truncated(100), false},
      {"cut after DICM", truncated(132), true},
      {"cut in the meta group", truncated(150), true},
      {"cut before the pixel tag", truncated(pixelTag), true},
      {"cut in the pixel header", truncated(pixelTag + 6), true},
      {"cut at the pixel value", truncated(pixelTag + 12), true},
      {"cut one byte short", truncated(std::ssize(good) - 1), true},
      {"rows past the file", patched(rowsTag + 8, {0xFF, 0xFF}), true},
      {"frames past the file", patched(framesTag + 8, {'9', '9'}), true},
      {"pixel length past the file", patched(pixelTag + 8, {0xF0, 0xFF, 0xFF, 0xFF}), true},
      {"private length past the file", patched(privateTag + 8, {0xF0, 0xFF, 0xFF, 0x7F}), true},
      {"undefined private length", patched(privateTag + 8, {0xFF, 0xFF, 0xFF, 0xFF}), true},
      {"nonsense VR", patched(rowsTag + 4, {'Z', 'Q'}), true},
      {"bare data set cut short", Bare(truncated(pixelTag + 10)), false},
      {"random bytes", noise, false},
      {"random bytes after a group 8 tag", noiseWithGroup8, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    int64_t spent = 0;
    const TContainerReading reading = Read(c.File, &spent);
    EXPECT_TRUE(reading.Layouts.empty());
    EXPECT_EQ(reading.Format, c.Dicom ? "DICOM" : "");
    EXPECT_LE(spent, TByteSource::DefaultBudget);
  }
}

} // namespace
