// The collection's rules driven by a test clock: the window in Sofia's time
// (over midnight, on the nights the clocks change), once a night, the retry
// waits, the parallel cap, one read per line, asked reads, a restart.
#include "server/collect_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "server/register_port.h"

namespace {

constexpr int64_t kMinute = 60 * 1000;
constexpr int64_t kHour = 60 * kMinute;

class TestClock : public CollectClock {
 public:
  int64_t NowMs() const override { return now; }
  int64_t now = 0;
};

// A wall-clock time in Sofia (the tests run in its time zone).
int64_t Sofia(int year, int month, int day, int hour, int minute) {
  std::tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&local)) * 1000;
}

CollectWindow Window(const std::string& text) {
  CollectWindow window;
  std::string problem;
  EXPECT_TRUE(ParseCollectWindow(text, &window, &problem)) << problem;
  return window;
}

std::vector<std::string> Devices(const std::vector<DueRead>& due) {
  std::vector<std::string> devices;
  for (const DueRead& read : due) devices.push_back(read.device);
  return devices;
}

using Names = std::vector<std::string>;

TEST(CollectWindow, ParsedAsHoursAndMinutes) {
  CollectWindow window;
  std::string problem;
  ASSERT_TRUE(ParseCollectWindow("22:30-05:00", &window, &problem));
  EXPECT_EQ(window.startMinute, 22 * 60 + 30);
  EXPECT_EQ(window.endMinute, 5 * 60);
  EXPECT_EQ(CollectWindowText(window), "22:30-05:00");
  ASSERT_TRUE(ParseCollectWindow("00:00-23:59", &window, &problem));
  for (const char* bad : {"", "22:30", "22:30-5:00", "24:00-05:00", "22:60-05:00", "22:30 - 05:00", "22:30-05:00-",
                          "ab:cd-05:00", "22.30-05.00"}) {
    EXPECT_FALSE(ParseCollectWindow(bad, &window, &problem)) << bad;
    EXPECT_NE(problem.find("HH:MM-HH:MM"), std::string::npos) << bad;
  }
  EXPECT_FALSE(ParseCollectWindow("03:00-03:00", &window, &problem));
  EXPECT_EQ(problem, "the window '03:00-03:00' ends when it starts");
}

TEST(CollectWindow, TheOpeningThatContainsNowOrTheNext) {
  const CollectWindow night = Window("22:30-05:00");
  WindowSpan span = CurrentOrNextWindow(night, Sofia(2024, 6, 10, 23, 0));
  EXPECT_EQ(span.startMs, Sofia(2024, 6, 10, 22, 30));
  EXPECT_EQ(span.endMs, Sofia(2024, 6, 11, 5, 0));
  span = CurrentOrNextWindow(night, Sofia(2024, 6, 11, 3, 0));
  EXPECT_EQ(span.startMs, Sofia(2024, 6, 10, 22, 30));
  span = CurrentOrNextWindow(night, Sofia(2024, 6, 11, 5, 0));  // the end is not in it
  EXPECT_EQ(span.startMs, Sofia(2024, 6, 11, 22, 30));
  // Over a month's and a year's end.
  span = CurrentOrNextWindow(night, Sofia(2024, 12, 31, 12, 0));
  EXPECT_EQ(span.endMs, Sofia(2025, 1, 1, 5, 0));

  const CollectWindow early = Window("01:00-05:00");
  span = CurrentOrNextWindow(early, Sofia(2024, 6, 10, 6, 0));
  EXPECT_EQ(span.startMs, Sofia(2024, 6, 11, 1, 0));
  EXPECT_EQ(span.endMs, Sofia(2024, 6, 11, 5, 0));
  span = CurrentOrNextWindow(early, Sofia(2024, 6, 10, 0, 59));
  EXPECT_EQ(span.startMs, Sofia(2024, 6, 10, 1, 0));
}

TEST(CollectWindow, TheNightsTheClocksChangeFollowTheWallClock) {
  // Sofia: 31 March 2024 03:00 became 04:00; 27 October 2024 04:00 became 03:00.
  const CollectWindow window = Window("02:00-05:00");
  WindowSpan spring = CurrentOrNextWindow(window, Sofia(2024, 3, 31, 1, 0));
  EXPECT_EQ(spring.endMs - spring.startMs, 2 * kHour);
  WindowSpan autumn = CurrentOrNextWindow(window, Sofia(2024, 10, 27, 1, 0));
  EXPECT_EQ(autumn.endMs - autumn.startMs, 4 * kHour);
  WindowSpan plain = CurrentOrNextWindow(window, Sofia(2024, 6, 1, 1, 0));
  EXPECT_EQ(plain.endMs - plain.startMs, 3 * kHour);
}

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override { clock.now = Sofia(2024, 6, 10, 12, 0); }

  CollectSchedule Make(const std::string& window, int parallel = CollectSchedule::kDefaultParallel) {
    window_ = Window(window);
    return CollectSchedule(clock, &window_, parallel);
  }

  TestClock clock;
  CollectWindow window_;
};

TEST_F(ScheduleTest, EveryRegisterWithAPortOnceANight) {
  CollectSchedule schedule = Make("22:30-05:00");
  schedule.SetRegisters({{"DV000001", PortLineKey("tcp://box1:4001")},
                         {"DV000002", PortLineKey("tcp://box2:4001")},
                         {"DV000003", ""},  // only named
                         {"DV000004", PortLineKey("rfc2217://box3:2217")}});
  EXPECT_TRUE(schedule.Due().empty());
  EXPECT_EQ(schedule.NextWakeMs(), Sofia(2024, 6, 10, 22, 30));

  clock.now = Sofia(2024, 6, 10, 22, 30);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV000001", "DV000002", "DV000004"}));
  EXPECT_TRUE(schedule.Due().empty());
  EXPECT_EQ(schedule.NextWakeMs(), INT64_MAX) << "nothing to do until a read ends";
  clock.now += 2 * kMinute;
  for (const char* device : {"DV000001", "DV000002", "DV000004"}) schedule.Finished(device, true);
  EXPECT_EQ(schedule.RunningCount(), 0u);
  EXPECT_TRUE(schedule.DoneInOpening("DV000001"));
  // Read tonight: not again before tomorrow night.
  clock.now = Sofia(2024, 6, 11, 4, 59);
  EXPECT_TRUE(schedule.Due().empty());
  EXPECT_EQ(schedule.NextWakeMs(), Sofia(2024, 6, 11, 22, 30));
  clock.now = Sofia(2024, 6, 11, 22, 30);
  EXPECT_FALSE(schedule.DoneInOpening("DV000001"));
  EXPECT_EQ(schedule.Due().size(), 3u);
}

TEST_F(ScheduleTest, AtMostParallelReadsAndNeverTwoOnOneLine) {
  CollectSchedule schedule = Make("01:00-05:00", 3);
  // DV02 and DV04 share one port of one box, reached raw and through RFC 2217.
  schedule.SetRegisters({{"DV01", PortLineKey("tcp://box1:4001")},
                         {"DV02", PortLineKey("tcp://Box2.office.lan:4001")},
                         {"DV03", PortLineKey("tcp://box3:4001")},
                         {"DV04", PortLineKey("rfc2217://box2.office.lan.:4001")},
                         {"DV05", PortLineKey("tcp://box5:4001")},
                         {"DV06", PortLineKey("tcp://box6:4001")}});
  clock.now = Sofia(2024, 6, 11, 1, 0);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV01", "DV02", "DV03"}));
  EXPECT_TRUE(schedule.Due().empty());
  clock.now += kMinute;
  schedule.Finished("DV02", true);
  // DV04's line is free now; its turn came with DV05's, and it stands first.
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV04"}));
  schedule.Finished("DV01", true);
  schedule.Finished("DV03", true);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV05", "DV06"}));

  // Two registers on one line: the second waits for the first's end,
  // whatever the free places.
  CollectSchedule shared = Make("01:00-05:00", 4);
  shared.SetRegisters({{"A", PortLineKey("tcp://[fe80::0:1]:2217")}, {"B", PortLineKey("tcp://[FE80::1]:2217")}});
  EXPECT_EQ(Devices(shared.Due()), (Names{"A"}));
  EXPECT_TRUE(shared.Due().empty());
  EXPECT_EQ(shared.NextWakeMs(), INT64_MAX);
  shared.Finished("A", false);
  EXPECT_EQ(Devices(shared.Due()), (Names{"B"}));
}

TEST_F(ScheduleTest, AFailedReadIsTriedAgainAfterGrowingWaitsUntilTheWindowEnds) {
  EXPECT_EQ(RetryWaitMs(1), 5 * kMinute);
  EXPECT_EQ(RetryWaitMs(2), 15 * kMinute);
  EXPECT_EQ(RetryWaitMs(3), 45 * kMinute);
  EXPECT_EQ(RetryWaitMs(4), 135 * kMinute);

  CollectSchedule schedule = Make("01:00-04:00");
  schedule.SetRegisters({{"DV01", PortLineKey("tcp://box1:4001")}});
  clock.now = Sofia(2024, 6, 11, 1, 0);
  int64_t failedAt = 0;
  for (int64_t wait : {5 * kMinute, 15 * kMinute, 45 * kMinute}) {
    ASSERT_EQ(Devices(schedule.Due()), (Names{"DV01"}));
    clock.now += 30 * 1000;  // the read takes half a minute
    failedAt = clock.now;
    schedule.Finished("DV01", false);
    EXPECT_EQ(schedule.NextWakeMs(), failedAt + wait);
    clock.now = failedAt + wait - 1;
    EXPECT_TRUE(schedule.Due().empty());
    clock.now = failedAt + wait;
  }
  // Failed at 01:00:30, 01:06, 01:21:30; the fourth fails at 02:07, and the
  // fifth try (135 minutes on, 04:22) would come after the window: the next
  // night's opening starts afresh.
  ASSERT_EQ(Devices(schedule.Due()), (Names{"DV01"}));
  clock.now += 30 * 1000;
  schedule.Finished("DV01", false);
  EXPECT_EQ(schedule.NextWakeMs(), Sofia(2024, 6, 12, 1, 0));
  clock.now = Sofia(2024, 6, 11, 3, 59);
  EXPECT_TRUE(schedule.Due().empty());
  clock.now = Sofia(2024, 6, 12, 1, 0);
  ASSERT_EQ(Devices(schedule.Due()), (Names{"DV01"}));
  clock.now += kMinute;
  schedule.Finished("DV01", false);
  EXPECT_EQ(schedule.NextWakeMs(), clock.now + 5 * kMinute) << "the waits grow anew each night";
  clock.now += 5 * kMinute;
  ASSERT_EQ(Devices(schedule.Due()), (Names{"DV01"}));
  schedule.Finished("DV01", true);
  EXPECT_EQ(schedule.NextWakeMs(), Sofia(2024, 6, 13, 1, 0));
}

TEST_F(ScheduleTest, AReadThatRunsPastTheWindowIsNotCutAndNothingNewStarts) {
  CollectSchedule schedule = Make("01:00-02:00", 1);
  schedule.SetRegisters({{"DV01", PortLineKey("tcp://box1:4001")}, {"DV02", PortLineKey("tcp://box2:4001")}});
  clock.now = Sofia(2024, 6, 11, 1, 59);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV01"}));
  clock.now = Sofia(2024, 6, 11, 2, 1);
  schedule.Finished("DV01", true);
  // It ended after the window: it counts for no opening, and DV02 waits.
  EXPECT_TRUE(schedule.Due().empty());
  EXPECT_EQ(schedule.NextWakeMs(), Sofia(2024, 6, 12, 1, 0));
  clock.now = Sofia(2024, 6, 12, 1, 0);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV01"}));
}

TEST_F(ScheduleTest, AskedReadsStartAtOnceInOrOutOfTheWindowAndGoFirst) {
  CollectSchedule schedule = Make("01:00-05:00", 1);
  schedule.SetRegisters({{"DV01", PortLineKey("tcp://box1:4001")},
                         {"DV02", PortLineKey("tcp://box2:4001")},
                         {"DV03", ""}});
  EXPECT_EQ(schedule.Ask("DV02"), AskResult::Queued);
  EXPECT_EQ(schedule.Ask("DV02"), AskResult::Queued);
  EXPECT_EQ(schedule.Ask("DV03"), AskResult::NoPort);
  EXPECT_EQ(schedule.Ask("DV09"), AskResult::NotListed);
  EXPECT_EQ(schedule.NextWakeMs(), clock.now);
  std::vector<DueRead> due = schedule.Due();
  ASSERT_EQ(Devices(due), (Names{"DV02"}));
  EXPECT_TRUE(due[0].asked);
  EXPECT_EQ(due[0].lineKey, "net:box2:4001");
  EXPECT_EQ(schedule.Ask("DV02"), AskResult::Running);
  EXPECT_TRUE(schedule.IsRunning("DV02"));
  clock.now += kMinute;
  schedule.Finished("DV02", false);  // outside the window: the night is untouched
  EXPECT_EQ(schedule.NextWakeMs(), Sofia(2024, 6, 11, 1, 0));

  // In the window, with one place: the asked read goes before the night's.
  clock.now = Sofia(2024, 6, 11, 1, 0);
  EXPECT_EQ(schedule.Ask("DV02"), AskResult::Queued);
  due = schedule.Due();
  ASSERT_EQ(Devices(due), (Names{"DV02"}));
  clock.now += kMinute;
  schedule.Finished("DV02", true);  // in the window: DV02 is read tonight
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV01"}));
  schedule.Finished("DV01", true);
  EXPECT_TRUE(schedule.Due().empty());
  EXPECT_TRUE(schedule.DoneInOpening("DV02"));

  // Without a window (the collect command): asked reads only.
  CollectSchedule asked(clock, nullptr, 4);
  asked.SetRegisters({{"DV01", PortLineKey("tcp://box1:4001")}, {"DV02", PortLineKey("tcp://box2:4001")}});
  EXPECT_TRUE(asked.Due().empty());
  EXPECT_EQ(asked.NextWakeMs(), INT64_MAX);
  EXPECT_EQ(asked.Ask("DV01"), AskResult::Queued);
  EXPECT_EQ(Devices(asked.Due()), (Names{"DV01"}));
  asked.Finished("DV01", false);
  EXPECT_TRUE(asked.Due().empty()) << "an asked read is not tried again";
}

TEST_F(ScheduleTest, AfterARestartTheStoredAttemptsOfTheNightCount) {
  CollectSchedule schedule = Make("22:30-05:00");
  schedule.SetRegisters({{"DV01", PortLineKey("tcp://box1:4001")},
                         {"DV02", PortLineKey("tcp://box2:4001")},
                         {"DV03", PortLineKey("tcp://box3:4001")},
                         {"DV04", PortLineKey("tcp://box4:4001")}});
  // The server was killed at 23:02 during DV02's read (started 23:00, no
  // end), had read DV01, and DV03 had failed twice. DV04 was read last night.
  schedule.Seed({{"DV01", Sofia(2024, 6, 10, 22, 40), true},
                 {"DV03", Sofia(2024, 6, 10, 23, 0), false},
                 {"DV03", Sofia(2024, 6, 10, 22, 50), false},
                 {"DV02", Sofia(2024, 6, 10, 23, 0), false},
                 {"DV04", Sofia(2024, 6, 10, 2, 0), true}});
  clock.now = Sofia(2024, 6, 10, 23, 3);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV04"}));
  EXPECT_EQ(schedule.NextWakeMs(), Sofia(2024, 6, 10, 23, 5));  // DV02, 5 minutes after the cut read
  clock.now = Sofia(2024, 6, 10, 23, 5);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV02"}));
  EXPECT_EQ(schedule.NextWakeMs(), Sofia(2024, 6, 10, 23, 15));  // DV03: 15 minutes after its second failure
  clock.now = Sofia(2024, 6, 10, 23, 15);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV03"}));
  EXPECT_FALSE(schedule.IsRunning("DV01"));
  EXPECT_TRUE(schedule.DoneInOpening("DV01"));
}

TEST_F(ScheduleTest, ARegisterChangedOrRemovedDuringItsReadHoldsItsLineUntilTheEnd) {
  CollectSchedule schedule = Make("01:00-05:00");
  schedule.SetRegisters({{"DV01", PortLineKey("tcp://box1:4001")}, {"DV02", PortLineKey("tcp://box2:4001")}});
  clock.now = Sofia(2024, 6, 11, 1, 0);
  EXPECT_EQ(schedule.Due().size(), 2u);
  // DV01 is removed, DV03 is listed on its box's port, and DV02 moves to
  // box3 while its read of box2 runs.
  schedule.SetRegisters({{"DV02", PortLineKey("tcp://box3:4001")},
                         {"DV03", PortLineKey("tcp://box1:4001")},
                         {"DV04", PortLineKey("tcp://box2:4001")}});
  EXPECT_TRUE(schedule.Due().empty()) << "box1 and box2 are in use";
  EXPECT_EQ(schedule.Ask("DV01"), AskResult::NotListed);
  clock.now += kMinute;
  schedule.Finished("DV01", true);
  EXPECT_FALSE(schedule.IsRunning("DV01"));
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV03"}));
  schedule.Finished("DV02", true);
  EXPECT_EQ(Devices(schedule.Due()), (Names{"DV04"}));
}

}  // namespace
