#include "GzipFile.h"
#include "TempDir.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using platform::EFOpenError;
using platform::FileExists;
using platform::TFileStream;

// Period 251, so a read from the wrong offset shows as wrong bytes.
uint8_t PatternByte(int64_t Position, int Seed = 0) {
  return static_cast<uint8_t>((Position * 131 + 7 + Seed) % 251);
}

std::vector<uint8_t> Pattern(int64_t From, int64_t Count, int Seed = 0) {
  std::vector<uint8_t> bytes(static_cast<size_t>(Count));
  for (int64_t i = 0; i < Count; ++i)
    bytes[static_cast<size_t>(i)] = PatternByte(From + i, Seed);
  return bytes;
}

std::vector<uint8_t> ReadAt(TFileStream& Stream, int64_t Offset, int64_t Count) {
  std::vector<uint8_t> bytes(static_cast<size_t>(Count), 0xEE);
  EXPECT_EQ(Stream.Seek(Offset), Offset);
  bytes.resize(static_cast<size_t>(Stream.Read(bytes.data(), Count)));
  return bytes;
}

void ExpectOpenFails(const std::string& Name) {
  try {
    TFileStream stream(Name);
    ADD_FAILURE() << "'" << Name << "' opened";
  } catch (const EFOpenError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot open file " + Name);
  }
}

class TFileStreamTest : public testing::Test {
protected:
  std::string Path(const std::string& Name) const { return FDirectory.Path(Name); }

  std::string WriteFile(const std::string& Name, const std::vector<uint8_t>& Bytes) const {
    return FDirectory.MakeFile(Name, Bytes);
  }

  std::string MakeFifo(const std::string& Name) const {
    const std::string path = Path(Name);
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
    return path;
  }

  // A unix-domain socket file: it exists, but open() refuses it even for root.
  std::string MakeSocket(const std::string& Name) const {
    const std::string path = Path(Name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    EXPECT_LT(path.size(), sizeof(address.sun_path)) << path;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    return path;
  }

  testfiles::TTempDir FDirectory;
};

TEST_F(TFileStreamTest, FileExistsOnlyForEntriesThatAreNotDirectories) {
  const std::string regular = WriteFile("volume.raw", Pattern(0, 16));
  const std::string empty = WriteFile("empty.raw", {});
  const std::string fifo = MakeFifo("pipe");
  const std::string socket = MakeSocket("socket");
  std::filesystem::create_directory(Path("folder"));
  std::filesystem::create_symlink(Path("gone.raw"), Path("dangling"));

  const std::vector<std::pair<std::string, bool>> cases = {
      {Path("missing.raw"), false},
      {"", false},
      {FDirectory.Root(), false},
      {Path("folder"), false},
      {Path("folder/"), false},
      {Path("dangling"), false},
      {regular, true},
      {empty, true},
      {fifo, true},
      {socket, true},
  };
  for (const auto& [name, exists] : cases)
    EXPECT_EQ(FileExists(name), exists) << "'" << name << "'";
}

TEST_F(TFileStreamTest, EntriesThatCannotBeOpenedGiveTheUsersMessage) {
  ExpectOpenFails(Path("missing.raw"));
  ExpectOpenFails(Path("missing-folder/volume.raw"));
  ExpectOpenFails("");
  ExpectOpenFails(MakeSocket("socket"));
}

TEST_F(TFileStreamTest, FileWithoutReadPermissionCannotBeOpened) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "root reads any file";
  const std::string path = WriteFile("locked.raw", Pattern(0, 16));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  ExpectOpenFails(path);
}

TEST_F(TFileStreamTest, NamedPipeWithoutWriterOpensAtOnceAndReadsNothing) {
  const std::string fifo = MakeFifo("pipe");
  auto probe = std::async(std::launch::async, [&fifo] {
    TFileStream stream(fifo);
    std::array<uint8_t, 64> buffer{};
    const int64_t got = stream.Read(buffer.data(), buffer.size());
    return std::pair{got, stream.Seek(0)};
  });
  if (probe.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // A writer coming and going releases the stuck open, so the test can end.
    ::close(::open(fifo.c_str(), O_RDWR));
    probe.wait();
    FAIL() << "opening a named pipe without a writer blocked";
  }
  const auto [got, position] = probe.get();
  EXPECT_EQ(got, 0);
  EXPECT_TRUE(position == -1 || position == 0) << position;
}

TEST_F(TFileStreamTest, DevZeroReadsAsZeros) {
  TFileStream stream("/dev/zero");
  const int64_t count = 3 * 1024 * 1024 + 5;
  std::vector<uint8_t> buffer(count, 0xAA);
  ASSERT_EQ(stream.Read(buffer.data(), count), count);
  EXPECT_EQ(buffer, std::vector<uint8_t>(count, 0));
}

TEST_F(TFileStreamTest, SeekReportsThePositionReachedAndReadFollowsIt) {
  const int64_t size = 1000;
  TFileStream stream(WriteFile("volume.raw", Pattern(0, size)));
  struct TCase {
    int64_t Offset;
    int64_t Count;
    int64_t Expected; // bytes that arrive
  };
  // Offsets past 2 GiB and 4 GiB catch positions held in 32 bits.
  const TCase cases[] = {
      {0, 10, 10},   {500, 10, 10},           {990, 100, 10},          {999, 1, 1}, {size, 10, 0},
      {5000, 10, 0}, {(1LL << 31) + 3, 4, 0}, {(1LL << 32) + 1, 4, 0}, {123, 0, 0}, {0, size, size},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("offset " + std::to_string(c.Offset) + ", count " + std::to_string(c.Count));
    EXPECT_EQ(ReadAt(stream, c.Offset, c.Count), Pattern(c.Offset, c.Expected));
  }
}

TEST_F(TFileStreamTest, PositionedReadTakesTheBytesAtItsOffsetAndLeavesThePositionAlone) {
  // Sparse: patterned bytes at the start and across 4 GiB, a hole between
  // that reads as zeros, and the end 100 bytes past 4 GiB.
  const int64_t far = int64_t{1} << 32;
  const int64_t size = far + 100;
  const std::string path = WriteFile("sparse.raw", Pattern(0, 1000));
  {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::vector<uint8_t> tail = Pattern(far - 50, 150);
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), far - 50), 150);
    ::close(fd);
  }
  const auto fileBytes = [&](int64_t Offset, int64_t Count) {
    std::vector<uint8_t> bytes = Pattern(Offset, Count);
    for (int64_t i = 0; i < Count; ++i)
      if (Offset + i >= 1000 && Offset + i < far - 50)
        bytes[static_cast<size_t>(i)] = 0;
    return bytes;
  };
  TFileStream stream(path);
  ASSERT_EQ(stream.Seek(7), 7);
  struct TCase {
    int64_t Offset;
    int64_t Count;
    int64_t Expected; // bytes that arrive
  };
  const TCase cases[] = {
      {0, 10, 10},
      {990, 20, 20},
      {far - 60, 20, 20},
      {far - 2, 4, 4},
      {far + 90, 30, 10},
      {size - 1, 1, 1},
      {size, 10, 0},
      {size + 5000, 10, 0},
      {far * 2 + 3, 10, 0},
      {123, 0, 0},
      {-1, 10, 0},
      {INT64_MIN, 10, 0},
      {(1LL << 31) + 3, 4, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("offset " + std::to_string(c.Offset) + ", count " + std::to_string(c.Count));
    std::vector<uint8_t> bytes(static_cast<size_t>(c.Count), 0xEE);
    bytes.resize(static_cast<size_t>(stream.ReadAt(c.Offset, bytes.data(), c.Count)));
    EXPECT_EQ(bytes, fileBytes(c.Offset, c.Expected));
  }
  std::vector<uint8_t> next(5);
  ASSERT_EQ(stream.Read(next.data(), 5), 5);
  EXPECT_EQ(next, Pattern(7, 5));
}

TEST_F(TFileStreamTest, PositionedReadOfAPipeOrDeviceReadsOnlyWhereASeekLands) {
  const std::string fifo = MakeFifo("pipe");
  // Held open for reading and writing so that bytes wait in the pipe.
  const int writer = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  const std::vector<uint8_t> bytes = Pattern(0, 16);
  ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), 16);
  TFileStream stream(fifo);
  std::array<uint8_t, 16> buffer{};
  EXPECT_EQ(stream.ReadAt(0, buffer.data(), buffer.size()), 0);
  EXPECT_EQ(stream.Read(buffer.data(), buffer.size()), 16);
  ::close(writer);

  // /dev/zero reports position 0 whatever is asked.
  TFileStream zero("/dev/zero");
  buffer.fill(0xEE);
  EXPECT_EQ(zero.ReadAt(0, buffer.data(), buffer.size()), 16);
  EXPECT_EQ(buffer, decltype(buffer){});
  EXPECT_EQ(zero.ReadAt(100, buffer.data(), buffer.size()), 0);
}

TEST_F(TFileStreamTest, ReadAtTheEndGivesTheRestThenNothing) {
  TFileStream stream(WriteFile("volume.raw", Pattern(0, 300)));
  EXPECT_EQ(ReadAt(stream, 250, 200), Pattern(250, 50));
  std::array<uint8_t, 8> buffer{};
  EXPECT_EQ(stream.Read(buffer.data(), buffer.size()), 0);
}

TEST_F(TFileStreamTest, ConsecutiveReadsContinueWhereTheLastStopped) {
  TFileStream stream(WriteFile("volume.raw", Pattern(0, 300)));
  EXPECT_EQ(ReadAt(stream, 40, 100), Pattern(40, 100));
  std::vector<uint8_t> next(100);
  ASSERT_EQ(stream.Read(next.data(), 100), 100);
  EXPECT_EQ(next, Pattern(140, 100));
}

TEST_F(TFileStreamTest, NegativeSeekFails) {
  TFileStream stream(WriteFile("volume.raw", Pattern(0, 100)));
  EXPECT_EQ(stream.Seek(-1), -1);
  EXPECT_EQ(stream.Seek(INT64_MIN), -1);
  // The stream stays usable afterwards.
  EXPECT_EQ(ReadAt(stream, 20, 5), Pattern(20, 5));
}

TEST_F(TFileStreamTest, SeesTheFileAsItIsNowAfterTruncateAndExtend) {
  const std::string path = WriteFile("volume.raw", Pattern(0, 1000));
  TFileStream stream(path);
  EXPECT_EQ(ReadAt(stream, 0, 1000), Pattern(0, 1000));

  ASSERT_EQ(::truncate(path.c_str(), 100), 0);
  EXPECT_EQ(ReadAt(stream, 500, 10), std::vector<uint8_t>{});
  EXPECT_EQ(ReadAt(stream, 50, 100), Pattern(50, 50));

  // Rewritten in place (same inode) with other bytes and made longer.
  {
    std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::vector<uint8_t> bytes = Pattern(0, 2000, 17);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
  }
  EXPECT_EQ(ReadAt(stream, 0, 10), Pattern(0, 10, 17));
  EXPECT_EQ(ReadAt(stream, 1500, 600), Pattern(1500, 500, 17));
}

TEST_F(TFileStreamTest, SizeIsKnownOnlyForRegularFilesAndFollowsThem) {
  const std::string path = WriteFile("volume.raw", Pattern(0, 1000));
  const std::vector<std::pair<std::string, int64_t>> cases = {
      {path, 1000}, {WriteFile("empty.raw", {}), 0}, {MakeFifo("pipe"), -1}, {"/dev/zero", -1}};
  for (const auto& [name, size] : cases)
    EXPECT_EQ(TFileStream(name).Size(), size) << name;

  TFileStream stream(path);
  ASSERT_EQ(::truncate(path.c_str(), int64_t{100} << 30), 0); // sparse, nothing written
  EXPECT_EQ(stream.Size(), int64_t{100} << 30);
}

TEST_F(TFileStreamTest, LeavesTheFileUntouched) {
  const std::vector<uint8_t> content = Pattern(0, 4096);
  const std::string path = WriteFile("volume.raw", content);
  // An old, odd time: any write would replace it with the present.
  const timespec times[2] = {{1'000'000'000, 123'456'789}, {1'000'000'000, 123'456'789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  {
    TFileStream stream(path);
    EXPECT_EQ(ReadAt(stream, 100, 50), Pattern(100, 50));
    EXPECT_EQ(ReadAt(stream, 4000, 500), Pattern(4000, 96));
    EXPECT_EQ(stream.Seek(100000), 100000);
  }

  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
  EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
  EXPECT_EQ(after.st_size, before.st_size);
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> now{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(now, content);
}

TEST_F(TFileStreamTest, LocksNoOneOut) {
  const std::string path = WriteFile("volume.raw", Pattern(0, 64));
  TFileStream stream(path);
  const int other = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(other, 0);
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0) << "the stream holds a lock on the file";
  ::close(other);
}

TEST_F(TFileStreamTest, ClosesItsHandle) {
  const std::string path = WriteFile("volume.raw", Pattern(0, 64));
  const auto openHandles = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  const auto before = openHandles();
  for (int i = 0; i < 5; ++i)
    TFileStream stream(path);
  EXPECT_EQ(openHandles(), before);
}

// A compressed file reads as its decompressed bytes, whole or cut short, and
// Cancel while it is read through leaves nothing open.
TEST_F(TFileStreamTest, ACompressedFileReadsAsItsDecompressedBytes) {
  const std::vector<uint8_t> data = Pattern(0, 5 << 20);
  const std::vector<uint8_t> whole = testfiles::Gzipped(data);
  for (const size_t kept : {whole.size(), whole.size() / 2}) {
    const std::string name =
        WriteFile("cut.raw.gz", std::vector<uint8_t>(whole.begin(), whole.begin() + kept));
    TFileStream stream(name);
    EXPECT_EQ(stream.Compression(), platform::TCompression::Gzip);
    const bool cut = kept < whole.size();
    EXPECT_EQ(stream.DecodeState().Kind,
              cut ? platform::TDecodeState::Truncated : platform::TDecodeState::Complete);
    const int64_t size = stream.Size();
    EXPECT_EQ(size == std::ssize(data), !cut);
    for (const int64_t offset : {int64_t{0}, size / 2, size - 10, size, size + 7})
      EXPECT_EQ(ReadAt(stream, offset, 40),
                Pattern(offset, std::clamp<int64_t>(size - offset, 0, 40)))
          << offset;
    std::vector<uint8_t> bytes(40);
    EXPECT_EQ(stream.ReadAt(-1, bytes.data(), 40), 0);
    EXPECT_EQ(stream.ReadAt(size / 3, bytes.data(), 40), 40);
    EXPECT_EQ(bytes, Pattern(size / 3, 40));
  }
  const std::string name = WriteFile("whole.raw.gz", whole);
  EXPECT_THROW(TFileStream(name, [](double) { return false; }), platform::EOpenCancelled);
  TFileStream plain(WriteFile("magic-only.raw", {0x1F, 0x8B, 0x08, 0x00}));
  EXPECT_EQ(plain.Compression(), platform::TCompression::None);
  EXPECT_EQ(plain.Size(), 4);
}

// While a compressed file is open, opening it again takes the index it has
// instead of reading it through; a changed file, or one no longer open, is
// read through again.
TEST_F(TFileStreamTest, ACompressedFileOpenAlreadyIsNotReadThroughAgain) {
  const std::vector<uint8_t> first = Pattern(0, 6 << 20);
  const std::vector<uint8_t> second = Pattern(0, 6 << 20, 1);
  const std::string name = WriteFile("again.raw.gz", testfiles::Gzipped(first));
  int reports = 0;
  const auto counting = [&reports](double) { return ++reports > 0; };
  const auto readsThrough = [&](std::unique_ptr<TFileStream>& Kept,
                                const std::vector<uint8_t>& Expected) {
    reports = 0;
    Kept = std::make_unique<TFileStream>(name, counting);
    EXPECT_EQ(
        ReadAt(*Kept, 3 << 20, 100),
        std::vector<uint8_t>(Expected.begin() + (3 << 20), Expected.begin() + (3 << 20) + 100));
    EXPECT_EQ(Kept->Size(), std::ssize(Expected));
    return reports > 0;
  };
  std::unique_ptr<TFileStream> a, b, c;
  EXPECT_TRUE(readsThrough(a, first));
  EXPECT_FALSE(readsThrough(b, first));
  b.reset();
  // Rewritten in place, same name and inode, within the same tick of the clock.
  {
    const std::vector<uint8_t> packed = testfiles::Gzipped(second);
    std::ofstream(name, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc)
        .write(reinterpret_cast<const char*>(packed.data()), std::ssize(packed));
  }
  EXPECT_TRUE(readsThrough(c, second));
  a.reset();
  c.reset();
  EXPECT_TRUE(readsThrough(a, second));
}

} // namespace
