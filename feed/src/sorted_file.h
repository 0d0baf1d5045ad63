// Records under 64-bit keys, spooled to a private temporary file and read back in the order of
// their keys, in memory that does not grow with their number: an external merge sort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lirvo::feed {

// Records are gathered in memory up to a chunk's size, then sorted by key and written to the file
// as one sorted chunk; reading merges the chunks. Each chunk keeps where every block of it begins
// (its first key and offset), so that reading can start at any key without reading the chunk
// from its start. What costs is one pass of writing and one of reading, a sort of each chunk, and
// a comparison of the chunks' next keys for each record read.
//
// Reading goes forward: a Seek at or past where the last reading stopped goes on from there, one
// before it starts over from the file. Adding after reading has begun starts reading over too.
class SortedFile {
 public:
  // `name` names the file in messages ("the temporary file of the source's vouchers"); `chunk`
  // is how many bytes of records are gathered before they are sorted and written.
  explicit SortedFile(std::string name, std::size_t chunk = 4u << 20);
  ~SortedFile();
  SortedFile(const SortedFile&) = delete;
  SortedFile& operator=(const SortedFile&) = delete;

  // Spools `record` under `key`. Of records under one key, the one added first is read first.
  // Throws modTally::Failure (kFile) naming the file when it cannot be created or written.
  void Add(std::int64_t key, std::string_view record);
  // Drops every record.
  void Clear();

  // Positions the reading at the first record whose key is at least `from`.
  void Seek(std::int64_t from);
  // The next record in the order of the keys, with its key, if that key is at most `to` (else
  // none, and it stays next). The view is good until the next call.
  std::optional<std::pair<std::int64_t, std::string_view>> Next(std::int64_t to);

 private:
  struct Block {
    std::int64_t key;      // of the first record that begins in it
    std::uint64_t offset;  // where that record begins in the file
  };
  struct Chunk {
    std::uint64_t end = 0;  // where it ends in the file
    std::vector<Block> blocks;
  };
  // What is read of one chunk: its bytes in hand and its next record.
  struct Reader {
    const Chunk* chunk = nullptr;
    std::uint64_t offset = 0;  // of the first byte not yet in `bytes`
    std::string bytes;
    std::size_t at = 0;  // where the next record begins in `bytes`
    bool more = false;
    std::int64_t key = 0;
    std::string_view record;
  };

  // Creates the file, unlinked, in TMPDIR (else /tmp).
  void Open();
  void WriteChunk();
  // Forgets what was read: the next reading starts from the file.
  void StartReadingOver();
  void Write(const std::string& bytes, std::uint64_t offset);
  void StartAt(Reader& reader, std::int64_t from);
  void Advance(Reader& reader);
  // Moves past the record Next gave last.
  void MoveOnFromGiven();
  bool Have(Reader& reader, std::size_t count);
  [[noreturn]] void Fail(const std::string& what, int error) const;

  std::string name_;
  std::string folder_;  // where the file is, for messages
  std::size_t chunk_bytes_;
  int fd_ = -1;
  std::vector<Chunk> chunks_;
  // The records not yet written, one after another, and each one's key, place and size.
  struct Entry {
    std::int64_t key;
    std::uint32_t offset;
    std::uint32_t size;
  };
  std::string gathered_;
  std::vector<Entry> entries_;
  std::vector<Reader> readers_;  // empty until reading begins
  Reader* given_ = nullptr;      // whose record Next gave last, to move on from at the next call
  // Every record under a smaller key has been given or passed over.
  std::int64_t position_ = std::numeric_limits<std::int64_t>::min();
};

}  // namespace lirvo::feed
