#include "core/link/comm_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "support/fake_clock.h"

namespace pyranex {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kAt121010 = 1322136610;  // 2011-11-24 12:10:10 UTC

// Little-endian two-byte characters of an ASCII text, built independently of the writer.
std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (const char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string EmptyPairs(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += "\r\n Send:\r\n Recv:";
  return text;
}

class CommLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() /
             ("pyranex-log-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string WriteAndRead(const TrafficSnapshot& ring) {
    const std::string name = CommLogFileName(clock, clock.Now(), 1);
    EXPECT_TRUE(WriteCommLogFile(folder / "backdata", name, FormatCommLog(ring, clock)));
    return ReadFile(folder / "backdata" / name);
  }

  test::FakeClock clock{kAt121010};
  fs::path folder;
};

TEST_F(CommLogTest, FileNameCarriesLocalTimeAndEventCode) {
  EXPECT_EQ(CommLogFileName(clock, kAt121010, 1), "2011-11-24 12-10-10-e1.txt");
  const test::FakeClock plusOneHour{kAt121010, 0, 3600};
  EXPECT_EQ(CommLogFileName(plusOneHour, kAt121010, 3), "2011-11-24 13-10-10-e3.txt");
}

TEST_F(CommLogTest, RightAfterStartUpTwentyEmptyPairs) {
  EXPECT_EQ(WriteAndRead(TrafficSnapshot{}), Utf16Le(EmptyPairs(20)));
}

TEST_F(CommLogTest, OldestSlotFirstNewestExchangeLast) {
  TrafficSnapshot ring;
  ring.slots[0].sent = {0x01, 0x04, 0x00, 0x0A, 0x00, 0x1F, 0x91, 0xC0};
  ring.slots[0].sendTime = kAt121010;
  ring.slots[0].received = {0x01, 0x04, 0x3E};
  ring.slots[0].receiveTime = kAt121010;
  ring.nextSlot = 1;
  EXPECT_EQ(WriteAndRead(ring),
            Utf16Le(EmptyPairs(19) + "\r\n2011-11-24 12-10-10 Send:1 4 0 a 0 1f 91 c0 "
                                     "\r\n2011-11-24 12-10-10 Recv:1 4 3e "));
}

TEST_F(CommLogTest, UnansweredRequestAndStaleReceiveTime) {
  TrafficSnapshot ring;
  ring.nextSlot = 18;
  ring.slots[18].sent = {0xFF, 0x00};
  ring.slots[18].sendTime = kAt121010 - 61;
  ring.slots[18].received = {0x0A};
  ring.slots[18].receiveTime = kAt121010 - 60;
  // The exchange in progress: sent, nothing back yet; its slot still holds an old receive time.
  ring.slots[17].sent = {0x01};
  ring.slots[17].sendTime = kAt121010;
  ring.slots[17].receiveTime = kAt121010 - 3600;
  const std::string expected = "\r\n2011-11-24 12-09-09 Send:ff 0 \r\n2011-11-24 12-09-10 Recv:a " +
                               EmptyPairs(18) + "\r\n2011-11-24 12-10-10 Send:1 \r\n Recv:";
  EXPECT_EQ(WriteAndRead(ring), Utf16Le(expected));
}

TEST_F(CommLogTest, ExistingFileIsReplaced) {
  fs::create_directories(folder);
  std::ofstream(folder / "same.txt") << std::string(1000, 'z');
  ASSERT_TRUE(WriteCommLogFile(folder, "same.txt", u"ab"));
  EXPECT_EQ(ReadFile(folder / "same.txt"), Utf16Le("ab"));
}

TEST_F(CommLogTest, UnwritableFolderFailsQuietly) {
  fs::create_directories(folder);
  std::ofstream(folder / "blocker").put('x');  // a file where the folder should be
  EXPECT_FALSE(WriteCommLogFile(folder / "blocker" / "backdata", "x.txt", u"text"));
}

}  // namespace
}  // namespace pyranex
