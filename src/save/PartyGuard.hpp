#pragma once

#include <chrono>
#include <memory>

namespace valdoria {

// Another game's save takes milliseconds: a lock held longer than this is
// no game's, and the party is read or written without it.
inline constexpr std::chrono::milliseconds kPartyLockWait{3000};

// Held while the party is read or written: two games in one directory never
// mix two battles' heroes (shared to read, exclusive to write; a lock
// refused, or held for seconds, is done without). While writing, signals
// that end or stop the program (Ctrl-C, Ctrl-Z, SIGTERM, SIGHUP...) wait
// until it goes, and a file-size limit makes the write fail instead.
class PartyGuard {
public:
  enum class Use { Reading, Writing };
  // What became of a party written under the guard.
  enum class Stored { Yes, No, Overtaken };

  explicit PartyGuard(Use use);
  PartyGuard(const PartyGuard&) = delete;
  PartyGuard& operator=(const PartyGuard&) = delete;
  ~PartyGuard();

  // After the party is written: where the files are kept in a store of
  // their own (the browser's), they all go there now, or none does.
  // Overtaken: another game stored its files since they were read, so none
  // went; they are now read afresh, for the party to be written over them.
  Stored commit();

private:
  struct Held; // each platform's own
  std::unique_ptr<Held> held;
};

} // namespace valdoria
