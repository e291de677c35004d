#pragma once
// A game's records, in one SQLite database in its per-game folder (ventari.sqlite): written
// ahead of the disk's cache (WAL, synchronous FULL), each recorded step one transaction, so that
// what is recorded before an act is recorded whole. A game whose records were files is taken
// over when its store is made: the files are read in the transaction that makes it, then renamed
// "<name>.moved" until the next turn is generated.

#include <memory>
#include <optional>
#include <string>

#include "platform/errors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ventari {

inline constexpr int kGameStoreVersion = 2;

// The store cannot be opened, read or written. An EInOutError, as a record file's failure was:
// whoever could not write a record goes on the same way.
class StoreError : public EInOutError {
 public:
  explicit StoreError(const std::string& message) : EInOutError(5, message) {}
};

std::string GameStorePath(const std::string& gameDir);

class GameStore {
 public:
  // kRead never writes: a store not made yet is read from the game's old record files (none:
  // empty). kWrite makes the store when it is missing. Raises StoreError.
  enum class Access { kRead, kWrite };
  GameStore(const std::string& gameDir, Access access);
  ~GameStore();
  GameStore(GameStore&&) noexcept;
  GameStore& operator=(GameStore&&) noexcept;

  // One prepared statement, its parameters bound in order.
  class Query {
   public:
    Query(Query&&) noexcept;
    ~Query();
    Query& Bind(long long value);
    Query& Bind(int value) { return Bind(static_cast<long long>(value)); }
    Query& Bind(const std::string& value);
    Query& Bind(const char* value) { return Bind(std::string(value)); }
    Query& Bind(std::nullopt_t);
    // The next row; false when there is none left.
    bool Step();
    int Columns() const;
    long long Int(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

   private:
    friend class GameStore;
    Query(GameStore& store, const std::string& sql);
    GameStore& m_store;
    sqlite3_stmt* m_statement = nullptr;
    int m_next = 1;
  };

  template <class... Values>
  Query Select(const std::string& sql, const Values&... values) {
    Query query(*this, sql);
    (query.Bind(values), ...);
    return query;
  }
  // One statement to its end; on its own, it is one transaction.
  template <class... Values>
  void Run(const std::string& sql, const Values&... values) {
    Query query(*this, sql);
    (query.Bind(values), ...);
    while (query.Step()) {
    }
  }
  // Statements without parameters, one after the other.
  void Execute(const std::string& sql);
  // `step` in one transaction: all of it recorded or, when it raises, none of it.
  template <class Step>
  void Transaction(Step&& step) {
    Execute("BEGIN IMMEDIATE");
    try {
      step();
    } catch (...) {
      RollBack();
      throw;
    }
    Execute("COMMIT");
  }

  // A store opened to read may be an older robot's, made before the table.
  bool HasTable(const std::string& name);

  const std::string& path() const { return m_path; }

 private:
  struct Closer {
    void operator()(sqlite3* db) const;
  };
  void Open(const std::string& path, int flags);
  int Version();
  // The tables, with the old record files' contents, in one transaction.
  void Make(const std::string& gameDir);
  // An older robot's store gains the tables it lacks.
  void Upgrade();
  void RollBack() noexcept;
  [[noreturn]] void Raise(const std::string& what) const;

  std::unique_ptr<sqlite3, Closer> m_db;
  std::string m_path;
};

// What keeps the robot from using the game's store: it cannot be opened or read, it is damaged,
// or a newer robot made it; nothing when it can be used. kWrite makes it (taking over old files).
std::optional<std::string> GameStoreProblem(const std::string& gameDir, GameStore::Access access);

}  // namespace ventari
