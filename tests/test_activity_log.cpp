#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>
#include <vector>

#include "core/activity_log.h"
#include "core/text.h"
#include "tests/support.h"

namespace veltrane {
namespace {

std::tm Time(int day, int month, int year, int hour, int minute, int second) {
  std::tm t{};
  t.tm_mday = day;
  t.tm_mon = month - 1;
  t.tm_year = year - 1900;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::string Utf16(const std::u16string& s) { return Utf16ToBytesLE(s); }

const std::string kRunHeader = Utf16(u"\r\n" + std::u16string(80, u'*') + u"\r\n");

TEST(ActivityLog, FileNameHasNoLeadingZerosAndJoinsTheFolderOnce) {
  const std::tm t = Time(9, 12, 2026, 16, 5, 3);
  EXPECT_EQ(LogFileName(t), "VeltraneSQLite_log_9-12-2026-16-5-3.txt");
  EXPECT_EQ(LogFilePath("/home/u/Desktop", t), "/home/u/Desktop/VeltraneSQLite_log_9-12-2026-16-5-3.txt");
  EXPECT_EQ(LogFilePath("/home/u/Desktop/", t), "/home/u/Desktop/VeltraneSQLite_log_9-12-2026-16-5-3.txt");
  EXPECT_EQ(LogFileName(Time(31, 1, 2025, 0, 0, 59)), "VeltraneSQLite_log_31-1-2025-0-0-59.txt");
}

TEST(ActivityLog, NewFileHoldsMarkHeaderAndUtf16Lines) {
  test::TempDir dir;
  const std::string folder = dir.File("Desktop");  // missing: created by Open
  ActivityLog log;
  ASSERT_TRUE(log.Open(folder, Time(1, 2, 2026, 3, 4, 5)));
  log.Write("/data/shop.db File is selected for recovery....");
  log.Write("");
  log.Write("Stra\xC3\x9F" "e \xE2\x82\xAC");  // non-ASCII survives as UTF-16
  log.Close();

  const std::string expected = std::string("\xFF\xFE", 2) + kRunHeader +
                               Utf16(u"/data/shop.db File is selected for recovery....\r\n") +
                               Utf16(u"\r\n") + Utf16(u"Stra\u00DFe \u20AC\r\n");
  EXPECT_EQ(test::ReadFile(log.path()), expected);
  EXPECT_EQ(log.path(), folder + "/VeltraneSQLite_log_1-2-2026-3-4-5.txt");
}

TEST(ActivityLog, SecondRunInTheSameSecondAppendsAHeaderWithoutASecondMark) {
  test::TempDir dir;
  const std::tm t = Time(1, 2, 2026, 3, 4, 5);
  {
    ActivityLog first;
    ASSERT_TRUE(first.Open(dir.path(), t));
    first.Write("one");
  }
  ActivityLog second;
  ASSERT_TRUE(second.Open(dir.path(), t));
  second.Write("two");
  second.Close();
  const std::string expected = std::string("\xFF\xFE", 2) + kRunHeader + Utf16(u"one\r\n") + kRunHeader +
                               Utf16(u"two\r\n");
  EXPECT_EQ(test::ReadFile(second.path()), expected);
}

TEST(ActivityLog, AFileThatCannotBeOpenedDropsTheLinesQuietly) {
  test::TempDir dir;
  // The "folder" is a plain file: neither it nor the log can be created.
  const std::string notAFolder = dir.File("plain");
  test::WriteFile(notAFolder, "x");
  ActivityLog log;
  EXPECT_FALSE(log.Open(notAFolder, Time(1, 1, 2026, 1, 1, 1)));
  EXPECT_FALSE(log.IsOpen());
  log.Write("nothing breaks");
  log.Close();
  EXPECT_FALSE(log.path().empty());  // the path is still known for the close message
  EXPECT_EQ(test::ReadFile(notAFolder), "x");
}

TEST(ActivityLog, LinesFromSeveralThreadsStayWhole) {
  test::TempDir dir;
  ActivityLog log;
  ASSERT_TRUE(log.Open(dir.path(), Time(1, 1, 2026, 1, 1, 1)));
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w)
    writers.emplace_back([&log, w] {
      for (int i = 0; i < 200; ++i) log.Write(std::string(50, static_cast<char>('a' + w)));
    });
  for (auto& t : writers) t.join();
  log.Close();
  const std::string bytes = test::ReadFile(log.path());
  const std::string body = bytes.substr(2 + kRunHeader.size());
  const size_t lineBytes = (50 + 2) * 2;
  ASSERT_EQ(body.size(), 800 * lineBytes);
  for (size_t at = 0; at < body.size(); at += lineBytes) {
    const std::string line = body.substr(at, lineBytes);
    const char c = line[0];
    EXPECT_EQ(line, Utf16(std::u16string(50, static_cast<char16_t>(c)) + u"\r\n"));
  }
}

}  // namespace
}  // namespace veltrane
