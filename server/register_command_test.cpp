// taxoscope-server register, run as the office runs it: the real program,
// a real state folder, and as root for a folder of the server's user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "server/register_store.h"
#include "testsupport/temp_dir.h"

namespace {

struct CommandRun {
  int status = -1;
  std::string out, err;
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// "taxoscope-server register ARGS" through the shell in dir, with `prefix`
// before it.
CommandRun Register(const TempDir& dir, const std::string& args, const std::string& prefix = "") {
  const std::string errFile = dir.File("stderr.txt");
  const std::string line = "cd " + Quoted(dir.path()) + " && " + prefix + Quoted(TAXOSCOPE_SERVER) + " register " +
                           args + " 2>" + Quoted(errFile);
  CommandRun run;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.err = ReadFileBytes(errFile);
  return run;
}

class RegisterCommand : public ::testing::Test {
 protected:
  std::string State() { return Quoted(state); }
  TempDir dir;
  std::string state = dir.File("state");
};

TEST_F(RegisterCommand, AddListRemove) {
  CommandRun run = Register(dir, "add DV000001 --state " + State() + " --port tcp://box1.office.lan:4001 --name " +
                              Quoted("Варна, ул. Пирин 3"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "taxoscope-server register: 'DV000001' added (tcp://box1.office.lan:4001 at 9600 baud)\n");
  EXPECT_TRUE(run.out.empty());
  run = Register(dir, "add DV000002 --baud 115200 --port rfc2217://[fe80::1%eth0]:2217 --state " + State());
  EXPECT_EQ(run.status, 0) << run.err;
  run = Register(dir, "add DV000003 --state " + State());
  EXPECT_EQ(run.err, "taxoscope-server register: 'DV000003' added (no port: its shop sends its dumps)\n");

  run = Register(dir, "list --state " + State());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "DV000001         tcp://box1.office.lan:4001         9600 Варна, ул. Пирин 3\n"
            "DV000002         rfc2217://[fe80::1%eth0]:2217    115200 -\n"
            "DV000003         -                                     - -\n");
  struct stat info;
  ASSERT_EQ(stat((state + "/registers.db").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  run = Register(dir, "add DV000001 --state " + State());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "taxoscope-server register: the register 'DV000001' is listed; remove it first\n");
  run = Register(dir, "remove DV000001 --state " + State());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "taxoscope-server register: 'DV000001' removed; the record of its reads stays\n");
  run = Register(dir, "remove DV000001 --state " + State());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "taxoscope-server register: no register 'DV000001' is listed\n");
  EXPECT_EQ(Register(dir, "list --state " + State()).out.find("DV000001"), std::string::npos);

  // No store yet: an empty list, and nothing made.
  CommandRun empty = Register(dir, "list --state " + Quoted(dir.File("elsewhere")));
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "");
  EXPECT_FALSE(FileExists(dir.File("elsewhere")));
}

TEST_F(RegisterCommand, EveryBadArgumentIsAUsageErrorThatSaysWhy) {
  const struct {
    std::string args;
    std::string says;
  } cases[] = {
      {"add DV1", "give the state folder with --state DIR"},
      {"add --state S", "give the register's device ID"},
      {"add " + Quoted("DV\t1") + " --state S", "a device id has no control characters (U+0009)"},
      {"add " + Quoted("DV\xFF") + " --state S", "a device id is UTF-8 text (byte 3 is not)"},
      {"add " + Quoted("\xE2\x80\xAE" "1VD") + " --state S", "no invisible or direction-changing characters (U+202E)"},
      {"add " + std::string(65, 'x') + " --state S", "a device id is at most 64 bytes"},
      {"add DV1 --state S --name " + Quoted("\xC0\xAF"), "a name is UTF-8 text (byte 1 is not)"},
      {"add DV1 --state S --name " + Quoted("a\nb"), "a name has no control characters"},
      {"add DV1 --state S --port telnet://box:2001", "--port: 'telnet://box:2001' is no address this program reads"},
      {"add DV1 --state S --port tcp://box", "no port after the host"},
      {"add DV1 --state S --port tcp://box:1 --baud 4800", "--baud is 9600, 19200, 38400, 57600 or 115200, not '4800'"},
      {"add DV1 --state S --baud 9600", "--baud is the speed of a --port"},
      {"add DV1 --state S --port tcp://a:1 --port tcp://b:1", "give --port once"},
      {"add DV1 --state S --name", "--name needs a value"},
      {"add DV1 --state S --name ''", "--name needs a value"},
      {"add DV1 DV2 --state S", "unexpected 'DV2'"},
      {"add DV1 --state S --devices 2", "unknown option --devices"},
      {"list --state S --port tcp://a:1", "unknown option --port"},
      {"remove --state S", "give the register's device ID"},
  };
  for (const auto& c : cases) {
    CommandRun run = Register(dir, c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.args << ": " << run.err;
    EXPECT_NE(run.err.find("\nusage: taxoscope-server register "), std::string::npos) << run.err;
  }
  EXPECT_FALSE(FileExists(dir.File("S"))) << "nothing is made for a refused command";
  CommandRun none = Register(dir, "");
  EXPECT_EQ(none.status, 2);
  CommandRun help = Register(dir, "add --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: taxoscope-server register add ID --state DIR"), std::string::npos);
  EXPECT_NE(help.out.find("rfc2217://HOST:PORT"), std::string::npos);
}

TEST_F(RegisterCommand, AStoreThatCannotBeUsedIsAFailureThatNamesIt) {
  ASSERT_EQ(mkdir(state.c_str(), 0750), 0);
  WriteFileBytes(state + "/registers.db", std::string(1024, 'x'));
  CommandRun run = Register(dir, "add DV1 --state " + State());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("registers.db': not a register store"), std::string::npos) << run.err;
  run = Register(dir, "list --state " + State());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReadFileBytes(state + "/registers.db"), std::string(1024, 'x'));
  WriteFileBytes(dir.File("file"), "");
  run = Register(dir, "add DV1 --state " + Quoted(dir.File("file")));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("is not a folder"), std::string::npos) << run.err;
}

// The docs' sudo: root lists a register in the folder of the server's user;
// the file is that user's, and the user then writes it too.
TEST_F(RegisterCommand, MadeByRootTheStoreBelongsToTheFoldersOwner) {
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody || access("/usr/sbin/runuser", X_OK) != 0)
    GTEST_SKIP() << "needs root, the user nobody and runuser";
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir(state.c_str(), 0750), 0);
  ASSERT_EQ(chown(state.c_str(), nobody->pw_uid, nobody->pw_gid), 0);

  CommandRun run = Register(dir, "add DV000001 --port tcp://box1:4001 --state " + State());
  ASSERT_EQ(run.status, 0) << run.err;
  struct stat info;
  ASSERT_EQ(stat((state + "/registers.db").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, nobody->pw_uid);
  EXPECT_EQ(info.st_gid, nobody->pw_gid);

  run = Register(dir, "add DV000002 --state " + State(), "/usr/sbin/runuser -u nobody -- ");
  EXPECT_EQ(run.status, 0) << run.err;
  run = Register(dir, "list --state " + State(), "/usr/sbin/runuser -u nobody -- ");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("DV000001"), std::string::npos);
  EXPECT_NE(run.out.find("DV000002"), std::string::npos);
  // Root's change after the user's: the log files SQLite makes are the user's too.
  run = Register(dir, "remove DV000002 --state " + State());
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* suffix : {"-wal", "-shm"}) {
    if (stat((state + "/registers.db" + suffix).c_str(), &info) == 0) {
      EXPECT_EQ(info.st_uid, nobody->pw_uid) << suffix;
    }
  }
  run = Register(dir, "add DV000003 --state " + State(), "/usr/sbin/runuser -u nobody -- ");
  EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
