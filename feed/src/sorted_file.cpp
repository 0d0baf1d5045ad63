#include "sorted_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <lirvo/modTally.h>

#include "line_runs.h"

namespace lirvo::feed {

namespace {

// How much of a chunk is read at once, and how far apart its blocks begin.
constexpr std::size_t kBlockBytes = 64 * 1024;
// The most bytes a record's key and size take: eight, and a size of seven bits a byte.
constexpr std::size_t kHeadBytes = 8 + 10;
// How many records a forward Seek passes over one by one before it looks the key up instead.
constexpr int kPassOver = 64;

}  // namespace

SortedFile::SortedFile(std::string name, std::size_t chunk)
    : name_(std::move(name)), chunk_bytes_(std::max<std::size_t>(chunk, 1)) {}

SortedFile::~SortedFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void SortedFile::Fail(const std::string& what, int error) const {
  std::string message = "cannot " + what + " " + name_ + (folder_.empty() ? "" : " in " + folder_) +
                        ": " + std::strerror(error);
  if (error == ENOSPC) {
    message += "; free some space there, or set TMPDIR to a folder with more";
  } else if (what == "create") {
    message += "; set TMPDIR to a folder that can be written";
  }
  throw modTally::Failure(modTally::FailureKind::File, modTally::FailureNumber::kFile, message,
                          {modTally::FailureCause::From::kErrno, error});
}

void SortedFile::Add(std::int64_t key, std::string_view record) {
  if (record.size() > std::numeric_limits<std::uint32_t>::max() ||
      gathered_.size() > std::numeric_limits<std::uint32_t>::max() - record.size()) {
    Fail("spool a record this large to", EFBIG);
  }
  if (gathered_.capacity() < chunk_bytes_) {  // a chunk's room, once, rather than doublings
    gathered_.reserve(chunk_bytes_ + kBlockBytes);
  }
  entries_.push_back({key, static_cast<std::uint32_t>(gathered_.size()),
                      static_cast<std::uint32_t>(record.size())});
  gathered_ += record;
  if (gathered_.size() >= chunk_bytes_) {
    WriteChunk();
  }
}

void SortedFile::Clear() {
  gathered_.clear();
  entries_.clear();
  chunks_.clear();
  StartReadingOver();
  if (fd_ >= 0 && ::ftruncate(fd_, 0) != 0) {
    Fail("empty", errno);
  }
}

void SortedFile::StartReadingOver() {
  readers_.clear();
  given_ = nullptr;
  position_ = std::numeric_limits<std::int64_t>::min();
}

void SortedFile::Open() {
  // TMPDIR's folder, or /tmp.
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  const char* tmpdir = std::getenv("TMPDIR");
  folder_ = error && tmpdir ? tmpdir : folder.string();
  if (error) {
    Fail("create", error.value());
  }
  std::string path = (folder / "lirvo-spool-XXXXXX").string();
  fd_ = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd_ < 0) {
    Fail("create", errno);
  }
  ::unlink(path.c_str());  // the file goes when it is closed, whatever ends the run
}

void SortedFile::WriteChunk() {
  if (entries_.empty()) {
    return;
  }
  if (fd_ < 0) {
    Open();
  }
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) { return a.key < b.key; });
  Chunk chunk;
  std::string out;
  out.reserve(kBlockBytes * 4);
  std::uint64_t offset = chunks_.empty() ? 0 : chunks_.back().end;  // where the file ends
  std::uint64_t block_end = offset;  // a record that begins past it begins a block
  for (const Entry& entry : entries_) {
    if (offset >= block_end) {
      chunk.blocks.push_back({entry.key, offset});
      block_end = offset + kBlockBytes;
    }
    const std::size_t before = out.size();
    char key[8];
    std::memcpy(key, &entry.key, sizeof key);
    out.append(key, sizeof key);
    PackNumber(out, entry.size);
    out.append(gathered_, entry.offset, entry.size);
    offset += out.size() - before;
    if (out.size() >= kBlockBytes * 4) {
      Write(out, offset - out.size());
      out.clear();
    }
  }
  Write(out, offset - out.size());
  chunk.end = offset;
  chunks_.push_back(std::move(chunk));
  gathered_.clear();
  entries_.clear();
  StartReadingOver();  // with the new chunk among the others
}

void SortedFile::Write(const std::string& bytes, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      Fail("write", wrote < 0 ? errno : ENOSPC);
    }
    done += static_cast<std::size_t>(wrote);
  }
}

bool SortedFile::Have(Reader& reader, std::size_t count) {
  if (reader.bytes.size() - reader.at >= count) {
    return true;
  }
  reader.bytes.erase(0, reader.at);
  reader.at = 0;
  while (reader.bytes.size() < count && reader.offset < reader.chunk->end) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(
        std::max(count - reader.bytes.size(), kBlockBytes), reader.chunk->end - reader.offset));
    const std::size_t had = reader.bytes.size();
    reader.bytes.resize(had + want);
    const ssize_t got =
        ::pread(fd_, reader.bytes.data() + had, want, static_cast<off_t>(reader.offset));
    if (got < 0 && errno == EINTR) {
      reader.bytes.resize(had);
      continue;
    }
    if (got <= 0) {
      Fail("read", got < 0 ? errno : EIO);
    }
    reader.bytes.resize(had + static_cast<std::size_t>(got));
    reader.offset += static_cast<std::uint64_t>(got);
  }
  return reader.bytes.size() >= count;
}

void SortedFile::Advance(Reader& reader) {
  reader.more = Have(reader, 1);
  if (!reader.more) {
    return;
  }
  Have(reader, kHeadBytes);  // fewer at the chunk's end
  std::string_view head(reader.bytes);
  head.remove_prefix(reader.at);
  std::memcpy(&reader.key, head.data(), sizeof reader.key);
  head.remove_prefix(sizeof reader.key);
  const std::size_t before = head.size();
  const auto size = static_cast<std::size_t>(UnpackNumber(head));
  const std::size_t skip = sizeof reader.key + (before - head.size());
  if (!Have(reader, skip + size)) {
    Fail("read", EIO);  // the file is shorter than what was written to it
  }
  reader.record = std::string_view(reader.bytes).substr(reader.at + skip, size);
  reader.at += skip + size;
}

void SortedFile::StartAt(Reader& reader, std::int64_t from) {
  const std::vector<Block>& blocks = reader.chunk->blocks;
  // The last block whose first key is below `from`: the first record at `from` is in it or in a
  // later one (records under `from` may begin in the block before the first at it).
  auto block = std::lower_bound(blocks.begin(), blocks.end(), from,
                                [](const Block& b, std::int64_t key) { return b.key < key; });
  if (block != blocks.begin()) {
    --block;
  }
  reader.offset = block->offset;
  reader.bytes.clear();
  reader.at = 0;
  do {
    Advance(reader);
  } while (reader.more && reader.key < from);
}

void SortedFile::MoveOnFromGiven() {
  if (given_) {
    Advance(*given_);
    given_ = nullptr;
  }
}

void SortedFile::Seek(std::int64_t from) {
  WriteChunk();
  MoveOnFromGiven();
  if (readers_.empty() || from < position_) {
    readers_.assign(chunks_.size(), Reader{});
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
      readers_[i].chunk = &chunks_[i];
      StartAt(readers_[i], from);
    }
  } else {
    for (Reader& reader : readers_) {
      for (int passed = 0; reader.more && reader.key < from; ++passed) {
        if (passed == kPassOver) {
          StartAt(reader, from);
          break;
        }
        Advance(reader);
      }
    }
  }
  position_ = from;
}

std::optional<std::pair<std::int64_t, std::string_view>> SortedFile::Next(std::int64_t to) {
  if (readers_.empty()) {
    Seek(position_);
  }
  MoveOnFromGiven();
  // The first chunk's record of the smallest key: of equal keys, the one added first.
  Reader* next = nullptr;
  for (Reader& reader : readers_) {
    if (reader.more && (!next || reader.key < next->key)) {
      next = &reader;
    }
  }
  if (!next || next->key > to) {
    return std::nullopt;
  }
  given_ = next;
  position_ = next->key == std::numeric_limits<std::int64_t>::max() ? next->key : next->key + 1;
  return std::make_pair(next->key, next->record);
}

}  // namespace lirvo::feed
