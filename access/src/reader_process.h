// The child runner: lirvo-mdb-reader started with posix_spawn (no shell) and its frames read as
// the caller asks for them, so that libmdb reading a damaged file can crash or loop in that
// process instead of this one.
//
// Which program runs: $LIRVO_MDB_READER when set and not empty; else lirvo-mdb-reader in the
// folder of the running executable; else the installed one (bin/ of the install prefix). Its
// standard error goes into a pipe: libmdb's complaints never reach the user's terminal, and the
// first of them are added to a failure's description. It runs in a process group of its own (a
// Ctrl-C meant for the program does not look like a crash of the reader) and dies with the
// thread that started it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo::access {

// How long the reader may go without sending a frame while the library waits for one; past it
// the reader is killed and the read fails. 15 s, or $LIRVO_MDB_READER_TIMEOUT seconds (a whole
// number from 1). The reader writes at least every 0.2 s while rows come and a progress frame
// every 4,096 rows while DISTINCT reads the table, so only a reader stuck inside libmdb meets it.
std::chrono::milliseconds ReaderDeadline();

class ReaderProcess {
 public:
  struct Frame {
    char kind = 0;             // frames::kTables, kHeader, kRow or kDone
    std::string_view payload;  // valid until the next call of Next
  };

  // Starts the reader with `arguments`. `where` says what is being read, for failures ("table
  // \"SalesMst\" of FILE, row 12"); it is asked only when something fails. Throws
  // modTally::Failure (kDatabase) when the reader cannot be started.
  ReaderProcess(const std::vector<std::string>& arguments, std::function<std::string()> where);
  // Kills the reader when it is still running, and waits for it.
  ~ReaderProcess();
  ReaderProcess(const ReaderProcess&) = delete;
  ReaderProcess& operator=(const ReaderProcess&) = delete;

  // The next frame. Progress frames are passed over. A kDone frame comes only once the reader has
  // ended with status 0. Throws modTally::Failure for the reader's own kError frame (its number
  // and description), and (kDatabase) when the reader ends by a signal or with another status,
  // its output stops before kDone or is garbled, or no frame comes within ReaderDeadline().
  Frame Next();

 private:
  [[noreturn]] void Fail(const std::string& reason);
  bool Fill(std::chrono::steady_clock::time_point deadline);
  void ReadErrors();
  int Reap(std::chrono::steady_clock::time_point deadline);
  void CloseOutput();

  std::function<std::string()> where_;
  std::string program_;
  std::chrono::milliseconds limit_;
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // the first byte not yet handed out
  std::size_t end_ = 0;    // one past the last byte read
  std::string errors_;     // the start of what the reader wrote on standard error
  bool done_ = false;
};

}  // namespace lirvo::access
