#include "core/game/game_store.h"

#include <sqlite3.h>

#include <filesystem>

#include "core/game/old_records.h"
#include "platform/files.h"

namespace ventari {

namespace {

constexpr int kBusyMs = 5000;

// Every table of version 1. Rows are named as the robot speaks of them: a turn key is the text
// that says which turn a record belongs to ("turn 5").
constexpr const char* kSchema = R"sql(
CREATE TABLE turn_note(name TEXT PRIMARY KEY, turn_key TEXT NOT NULL, rows TEXT NOT NULL);
CREATE TABLE receipt(row INTEGER PRIMARY KEY, turn INTEGER NOT NULL, hash TEXT NOT NULL,
                     at INTEGER NOT NULL, accepted INTEGER NOT NULL);
CREATE TABLE mail_step(id INTEGER PRIMARY KEY, message TEXT NOT NULL, step TEXT NOT NULL,
                       row INTEGER, at INTEGER, detail TEXT);
CREATE TABLE generation(turn INTEGER PRIMARY KEY, ended_at INTEGER NOT NULL);
CREATE TABLE forced_turn(turn INTEGER PRIMARY KEY, hours TEXT NOT NULL, rows TEXT NOT NULL);
CREATE TABLE news_sent(id INTEGER PRIMARY KEY);
CREATE TABLE first_turn(turn INTEGER NOT NULL, row INTEGER NOT NULL, step TEXT NOT NULL,
                        at INTEGER NOT NULL);
CREATE TABLE note(name TEXT PRIMARY KEY, value TEXT NOT NULL);
)sql";

// Added by version 2: the turns' history for the players' page.
constexpr const char* kHistorySchema = R"sql(
CREATE TABLE orders_in(turn INTEGER NOT NULL, row INTEGER NOT NULL, hash TEXT NOT NULL,
                       first_at INTEGER NOT NULL, last_at INTEGER NOT NULL,
                       PRIMARY KEY(turn, row));
CREATE TABLE turn_played(turn INTEGER PRIMARY KEY, deadline INTEGER, generated_at INTEGER NOT NULL,
                         forced INTEGER NOT NULL, left_out TEXT NOT NULL);
)sql";

}  // namespace

std::string GameStorePath(const std::string& gameDir) { return gameDir + "/ventari.sqlite"; }

void GameStore::Closer::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

GameStore::GameStore(const std::string& gameDir, Access access) : m_path(GameStorePath(gameDir)) {
  if (access == Access::kRead) {
    std::error_code error;
    if (std::filesystem::exists(m_path, error)) {
      Open(m_path, SQLITE_OPEN_READWRITE);
      if (Version() > 0) return;
    }
    // Not made yet: what the old files hold, in memory.
    Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY);
    Make(gameDir);
    return;
  }
  Open(m_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  Execute("PRAGMA journal_mode=WAL");
  Execute("PRAGMA synchronous=FULL");
  if (Version() == 0) Make(gameDir);
  if (Version() < kGameStoreVersion) Upgrade();
  // A robot killed between the taking over and the renames finishes them now.
  MoveOldRecordsAside(gameDir);
}

GameStore::~GameStore() = default;
GameStore::GameStore(GameStore&&) noexcept = default;
GameStore& GameStore::operator=(GameStore&&) noexcept = default;

void GameStore::Open(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int result = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  m_db.reset(db);
  if (result != SQLITE_OK)
    throw StoreError("the game store " + m_path +
                     " cannot be opened: " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(result)));
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyMs);
}

int GameStore::Version() {
  Query query(*this, "PRAGMA user_version");
  if (!query.Step()) return 0;
  const long long version = query.Int(0);
  if (version > kGameStoreVersion)
    throw StoreError("the game store " + m_path + " was made by a newer robot (version " +
                     std::to_string(version) + ")");
  return static_cast<int>(version);
}

void GameStore::Make(const std::string& gameDir) {
  Transaction([&] {
    // Another process may have made it meanwhile.
    if (Version() != 0) return;
    Execute(kSchema);
    Execute(kHistorySchema);
    ImportOldRecords(*this, gameDir);
    Execute("PRAGMA user_version=" + std::to_string(kGameStoreVersion));
  });
}

void GameStore::Upgrade() {
  Transaction([&] {
    if (Version() >= kGameStoreVersion) return;
    Execute(kHistorySchema);
    Execute("PRAGMA user_version=" + std::to_string(kGameStoreVersion));
  });
}

bool GameStore::HasTable(const std::string& name) {
  return Select("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", name).Step();
}

void GameStore::Execute(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return;
  const std::string what = message ? message : sqlite3_errmsg(m_db.get());
  sqlite3_free(message);
  Raise(what);
}

void GameStore::RollBack() noexcept {
  if (!sqlite3_get_autocommit(m_db.get()))
    sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void GameStore::Raise(const std::string& what) const {
  throw StoreError("the game store " + m_path + " cannot be used: " + what);
}

GameStore::Query::Query(GameStore& store, const std::string& sql) : m_store(store) {
  if (sqlite3_prepare_v2(store.m_db.get(), sql.c_str(), static_cast<int>(sql.size()), &m_statement,
                         nullptr) != SQLITE_OK)
    store.Raise(sqlite3_errmsg(store.m_db.get()));
}

GameStore::Query::Query(Query&& other) noexcept
    : m_store(other.m_store), m_statement(other.m_statement), m_next(other.m_next) {
  other.m_statement = nullptr;
}

GameStore::Query::~Query() { sqlite3_finalize(m_statement); }

GameStore::Query& GameStore::Query::Bind(long long value) {
  sqlite3_bind_int64(m_statement, m_next++, value);
  return *this;
}

GameStore::Query& GameStore::Query::Bind(const std::string& value) {
  sqlite3_bind_text(m_statement, m_next++, value.data(), static_cast<int>(value.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

GameStore::Query& GameStore::Query::Bind(std::nullopt_t) {
  sqlite3_bind_null(m_statement, m_next++);
  return *this;
}

bool GameStore::Query::Step() {
  const int result = sqlite3_step(m_statement);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  m_store.Raise(sqlite3_errmsg(m_store.m_db.get()));
}

int GameStore::Query::Columns() const { return sqlite3_column_count(m_statement); }

long long GameStore::Query::Int(int column) const {
  return sqlite3_column_int64(m_statement, column);
}

std::string GameStore::Query::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(m_statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
              : std::string();
}

bool GameStore::Query::IsNull(int column) const {
  return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

std::optional<std::string> GameStoreProblem(const std::string& gameDir, GameStore::Access access) {
  try {
    GameStore store(gameDir, access);
    GameStore::Query check = store.Select("PRAGMA quick_check");
    const std::string verdict = check.Step() ? check.Text(0) : std::string("no answer");
    if (verdict != "ok") return "the game store " + store.path() + " is damaged: " + verdict;
    return std::nullopt;
  } catch (const StoreError& error) {
    return std::string(error.what());
  }
}

}  // namespace ventari
