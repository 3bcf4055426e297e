// registers.db as real files: the registers, the attempts and their queries,
// the year they are kept, files that are no store, and a writer killed at
// any moment.
#include "server/register_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace {

constexpr int64_t kDay = 86400000;
constexpr int64_t kT0 = 1718000000000;  // June 2024

RegisterEntry Register(const std::string& device, const std::string& port = "", const std::string& name = "") {
  RegisterEntry entry;
  entry.device = device;
  entry.port = port;
  entry.name = name;
  entry.addedAt = "2024-06-10T12:00:00Z";
  return entry;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store.Open(path, true, &err)) << err; }

  int64_t Attempt(const std::string& device, int64_t startedMs, ReadOutcome outcome, int64_t seconds = 30,
                  const std::string& message = "") {
    int64_t id = 0;
    EXPECT_TRUE(store.BeginAttempt(device, startedMs, false, &id, &err)) << err;
    AttemptEnd end;
    end.outcome = outcome;
    end.endedMs = startedMs + seconds * 1000;
    end.message = message;
    EXPECT_TRUE(store.EndAttempt(id, end, &err)) << err;
    return id;
  }

  TempDir dir;
  std::string path = RegisterStore::PathIn(dir.path());
  RegisterStore store;
  std::string err;
};

TEST_F(StoreTest, RegistersAreAddedListedAndRemoved) {
  bool existed = true;
  ASSERT_TRUE(store.Add(Register("DV000002", "tcp://box2:4001", "Варна, ул. Пирин 3"), &existed, &err)) << err;
  EXPECT_FALSE(existed);
  RegisterEntry fast = Register("DV000001", "rfc2217://box1:2217");
  fast.baud = 115200;
  ASSERT_TRUE(store.Add(fast, &existed, &err));
  ASSERT_TRUE(store.Add(Register("DV000002", "tcp://other:1"), &existed, &err));
  EXPECT_TRUE(existed);

  std::vector<RegisterEntry> registers;
  ASSERT_TRUE(store.List(&registers, &err)) << err;
  ASSERT_EQ(registers.size(), 2u);
  EXPECT_EQ(registers[0].device, "DV000001");
  EXPECT_EQ(registers[0].baud, 115200);
  EXPECT_EQ(registers[1].port, "tcp://box2:4001");
  EXPECT_EQ(registers[1].name, "Варна, ул. Пирин 3");
  EXPECT_EQ(registers[1].baud, kDefaultBaud);
  EXPECT_EQ(registers[1].addedAt, "2024-06-10T12:00:00Z");

  // Another connection (the running server) sees the change at once.
  RegisterStore other;
  ASSERT_TRUE(other.Open(path, false, &err)) << err;
  RegisterEntry found;
  bool present = false;
  ASSERT_TRUE(other.Find("DV000002", &found, &present, &err));
  EXPECT_TRUE(present);
  EXPECT_EQ(found.name, "Варна, ул. Пирин 3");
  ASSERT_TRUE(store.Remove("DV000002", &existed, &err));
  EXPECT_TRUE(existed);
  ASSERT_TRUE(other.Find("DV000002", &found, &present, &err));
  EXPECT_FALSE(present);
  ASSERT_TRUE(store.Remove("DV000002", &existed, &err));
  EXPECT_FALSE(existed);
}

TEST_F(StoreTest, AMissingStoreIsEmptyAndNotMadeByAReader) {
  TempDir other;
  RegisterStore reader;
  const std::string missing = RegisterStore::PathIn(other.path());
  ASSERT_TRUE(reader.Open(missing, false, &err)) << err;
  EXPECT_FALSE(reader.IsOpen());
  std::vector<RegisterEntry> registers = {Register("x")};
  EXPECT_TRUE(reader.List(&registers, &err));
  EXPECT_TRUE(registers.empty());
  std::vector<AttemptRecord> attempts;
  EXPECT_TRUE(reader.Attempts(AttemptQuery(), &attempts, &err));
  EXPECT_FALSE(FileExists(missing));
}

TEST_F(StoreTest, AttemptsByDeviceAndTimeNewestFirst) {
  Attempt("DV01", kT0, ReadOutcome::NoConnection, 5, "cannot connect to box1:4001: Connection refused");
  Attempt("DV01", kT0 + 10 * 60000, ReadOutcome::Ok);
  Attempt("DV02", kT0 + 20 * 60000, ReadOutcome::WrongRegister, 3, "the register on this port is DV000099");
  Attempt("DV01", kT0 + kDay, ReadOutcome::CutImage);

  int64_t id = 0;
  ASSERT_TRUE(store.BeginAttempt("DV02", kT0 + kDay + 1000, true, &id, &err));
  AttemptEnd end;
  end.outcome = ReadOutcome::Ok;
  end.endedMs = kT0 + kDay + 12000;
  end.bytes = 131071;
  end.added = 1700;
  end.already = 17;
  end.repaired = 0;
  end.conflicts = 0;
  end.sha256 = std::string(64, 'a');
  ASSERT_TRUE(store.EndAttempt(id, end, &err)) << err;

  std::vector<AttemptRecord> attempts;
  AttemptQuery query;
  query.device = "DV01";
  ASSERT_TRUE(store.Attempts(query, &attempts, &err)) << err;
  ASSERT_EQ(attempts.size(), 3u);
  EXPECT_EQ(attempts[0].end.outcome, ReadOutcome::CutImage);
  EXPECT_EQ(attempts[2].end.outcome, ReadOutcome::NoConnection);
  EXPECT_EQ(attempts[2].end.message, "cannot connect to box1:4001: Connection refused");
  EXPECT_EQ(attempts[2].endedMs, kT0 + 5000);
  EXPECT_EQ(attempts[2].end.added, -1) << "nothing reached the ledger";
  EXPECT_EQ(attempts[2].end.sha256, "");

  // [from, to): the first day only, every device.
  query = AttemptQuery();
  query.fromMs = kT0;
  query.toMs = kT0 + kDay;
  ASSERT_TRUE(store.Attempts(query, &attempts, &err));
  ASSERT_EQ(attempts.size(), 3u);
  EXPECT_EQ(attempts[0].device, "DV02");
  query.limit = 1;
  query.fromMs = INT64_MIN;
  query.toMs = INT64_MAX;
  ASSERT_TRUE(store.Attempts(query, &attempts, &err));
  ASSERT_EQ(attempts.size(), 1u);
  EXPECT_TRUE(attempts[0].asked);
  EXPECT_TRUE(attempts[0].ended);
  EXPECT_EQ(attempts[0].end.bytes, 131071);
  EXPECT_EQ(attempts[0].end.added, 1700);
  EXPECT_EQ(attempts[0].end.already, 17);
  EXPECT_EQ(attempts[0].end.repaired, 0);
  EXPECT_EQ(attempts[0].end.sha256, std::string(64, 'a'));

  std::map<std::string, AttemptRecord> last, lastOk;
  ASSERT_TRUE(store.LastAttempts(&last, &lastOk, &err)) << err;
  ASSERT_EQ(last.size(), 2u);
  EXPECT_EQ(last["DV01"].end.outcome, ReadOutcome::CutImage);
  EXPECT_EQ(lastOk["DV01"].startedMs, kT0 + 10 * 60000);
  EXPECT_EQ(last["DV02"].end.outcome, ReadOutcome::Ok);
  EXPECT_EQ(lastOk["DV02"].id, id);
}

TEST_F(StoreTest, AttemptsAreKeptForAYear) {
  Attempt("DV01", kT0, ReadOutcome::Ok);
  Attempt("DV01", kT0 + 100 * kDay, ReadOutcome::Ok);
  // The start of an attempt a year and a day later takes the first with it.
  Attempt("DV02", kT0 + (kAttemptKeepDays + 1) * kDay, ReadOutcome::NoAnswer);
  std::vector<AttemptRecord> attempts;
  ASSERT_TRUE(store.Attempts(AttemptQuery(), &attempts, &err));
  ASSERT_EQ(attempts.size(), 2u);
  EXPECT_EQ(attempts[1].startedMs, kT0 + 100 * kDay);
  int removed = 0;
  ASSERT_TRUE(store.Prune(kT0 + 100 * kDay + kAttemptKeepDays * kDay, &removed, &err));
  EXPECT_EQ(removed, 0);
  ASSERT_TRUE(store.Prune(kT0 + 100 * kDay + kAttemptKeepDays * kDay + 1, &removed, &err));
  EXPECT_EQ(removed, 1);
}

TEST_F(StoreTest, AnAttemptAKillLeftOpenIsClosedAsStopped) {
  Attempt("DV01", kT0, ReadOutcome::Ok);
  int64_t id = 0;
  ASSERT_TRUE(store.BeginAttempt("DV02", kT0 + 1000, false, &id, &err));
  std::vector<AttemptRecord> attempts;
  ASSERT_TRUE(store.Attempts(AttemptQuery(), &attempts, &err));
  EXPECT_FALSE(attempts[0].ended);
  EXPECT_EQ(attempts[0].endedMs, -1);
  int closed = 0;
  ASSERT_TRUE(store.CloseUnfinished("the server ended during this read", &closed, &err));
  EXPECT_EQ(closed, 1);
  ASSERT_TRUE(store.Attempts(AttemptQuery(), &attempts, &err));
  EXPECT_TRUE(attempts[0].ended);
  EXPECT_EQ(attempts[0].end.outcome, ReadOutcome::Stopped);
  EXPECT_EQ(attempts[0].endedMs, -1);
  EXPECT_EQ(attempts[0].end.message, "the server ended during this read");
  EXPECT_EQ(attempts[1].end.outcome, ReadOutcome::Ok);
  ASSERT_TRUE(store.CloseUnfinished("again", &closed, &err));
  EXPECT_EQ(closed, 0);
  AttemptEnd end;
  EXPECT_FALSE(store.EndAttempt(id + 100, end, &err));
}

TEST(RegisterStoreFiles, FilesThatAreNoStoreAreRefusedAndLeftAsTheyWere) {
  TempDir dir;
  RegisterStore store;
  std::string err;

  WriteFileBytes(dir.File("short.db"), "registers\n");
  EXPECT_FALSE(store.Open(dir.File("short.db"), true, &err));
  EXPECT_NE(err.find("not a register store (a file of 10 bytes that is no SQLite database)"), std::string::npos)
      << err;
  EXPECT_EQ(ReadFileBytes(dir.File("short.db")), "registers\n");

  const std::string text(4096, 'r');
  WriteFileBytes(dir.File("text.db"), text);
  EXPECT_FALSE(store.Open(dir.File("text.db"), true, &err));
  EXPECT_NE(err.find("not a register store"), std::string::npos) << err;
  EXPECT_EQ(ReadFileBytes(dir.File("text.db")), text);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("other.db").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t (x); INSERT INTO t VALUES (1);", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_FALSE(store.Open(dir.File("other.db"), true, &err));
  EXPECT_NE(err.find("an SQLite file of another program"), std::string::npos) << err;

  {
    RegisterStore made;
    ASSERT_TRUE(made.Open(dir.File("newer.db"), true, &err)) << err;
  }
  ASSERT_EQ(sqlite3_open(dir.File("newer.db").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_FALSE(store.Open(dir.File("newer.db"), true, &err));
  EXPECT_NE(err.find("made by a newer version of taxoscope (register store version 2"), std::string::npos) << err;
}

// A writer killed at any moment: every attempt it was told is recorded stays
// whole, at most the one it was writing is left open, the file is intact.
TEST(RegisterStoreFiles, AWriterKilledAtAnyMomentLosesNothingItWasToldWasWritten) {
  TempDir dir;
  const std::string path = RegisterStore::PathIn(dir.path());
  {
    RegisterStore make;
    std::string err;
    ASSERT_TRUE(make.Open(path, true, &err)) << err;
  }
  for (int round = 0; round < 3; ++round) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipeFds[0]);
      RegisterStore store;
      std::string err;
      if (!store.Open(path, true, &err)) _exit(1);
      for (int64_t n = 0;; ++n) {
        int64_t id = 0;
        AttemptEnd end;
        end.outcome = n % 2 ? ReadOutcome::Ok : ReadOutcome::LineFailed;
        end.endedMs = kT0 + n;
        end.message = "read " + std::to_string(n);
        if (!store.BeginAttempt("DV" + std::to_string(n % 7), kT0 + n, false, &id, &err) ||
            !store.EndAttempt(id, end, &err))
          _exit(2);
        if (write(pipeFds[1], &id, sizeof id) != sizeof id) _exit(3);
      }
    }
    close(pipeFds[1]);
    std::vector<int64_t> told;
    int64_t id = 0;
    while (told.size() < 40 && read(pipeFds[0], &id, sizeof id) == sizeof id) told.push_back(id);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipeFds[0]);
    ASSERT_EQ(told.size(), 40u) << "the writer failed: status " << status;

    RegisterStore store;
    std::string err;
    ASSERT_TRUE(store.Open(path, true, &err)) << err;
    std::vector<AttemptRecord> attempts;
    ASSERT_TRUE(store.Attempts(AttemptQuery(), &attempts, &err)) << err;
    std::map<int64_t, const AttemptRecord*> byId;
    int open = 0;
    for (const AttemptRecord& attempt : attempts) {
      byId[attempt.id] = &attempt;
      open += !attempt.ended;
    }
    EXPECT_LE(open, 1);
    for (int64_t toldId : told) {
      ASSERT_TRUE(byId.count(toldId)) << toldId;
      EXPECT_TRUE(byId[toldId]->ended);
      EXPECT_EQ(byId[toldId]->end.message.rfind("read ", 0), 0u);
    }
    int closed = 0;
    ASSERT_TRUE(store.CloseUnfinished("the server ended during this read", &closed, &err));
    EXPECT_EQ(closed, open);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
  }
}

}  // namespace
