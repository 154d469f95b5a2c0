// How the writer puts workbooks on the disk, on every platform: the file holds exactly the bytes
// the encoder made, under the name it was given (UTF-8), replaced in one step, and a failed save
// says why and leaves the previous file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/workbook/atomic_file.h"
#include "core/workbook/biff_stream.h"
#include "core/workbook/compound_file.h"
#include "core/workbook/file_platform.h"
#include "core/workbook/history_store.h"
#include "core/workbook/utf8_path.h"
#include "core/workbook/workbook_export.h"
#include "sample_log.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "test_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pyranex {
namespace {

constexpr int64_t kStart = 1322121959;  // 2011-11-24 08:05:59 UTC

// The bytes a workbook of this layout must have, made in memory without any file.
std::string ExpectedBytes(const DayLog& log, const ExportParams& params, WorkbookMode mode,
                          const Clock& clock) {
  struct Cells final : LayoutSink {
    XlsWriter writer;
    void Cell(uint32_t row, uint32_t col, std::string_view text) override {
      writer.PutCellText(row, col, text);
    }
    void Progress(size_t, size_t) override {}
  } cells;
  cells.writer.NewWorkbook();
  cells.writer.FirstSheet();
  LayoutWorkbook(log, params, mode, clock, cells);
  const auto bytes = BuildCompoundFile(EncodeWorkbookStream(cells.writer.Content()));
  return std::string(bytes.begin(), bytes.end());
}

// Workbooks are megabytes: a difference is told by its place, not by printing both.
testing::AssertionResult SameBytes(const std::string& file, const std::string& expected) {
  if (file == expected) return testing::AssertionSuccess();
  const auto at = std::mismatch(file.begin(), file.end(), expected.begin(), expected.end());
  return testing::AssertionFailure()
         << "the file has " << file.size() << " bytes, " << expected.size()
         << " expected; the first difference at " << (at.first - file.begin());
}

std::vector<std::string> Entries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(Utf8FromPath(e.path().filename()));
  }
  return names;
}

ExportParams Params(std::string path) {
  ExportParams p;
  p.serialText = "000000000001";
  p.ratedPower = 50;
  p.startTime = kStart;
  p.toMin = 1440;
  p.path = std::move(path);
  return p;
}

TEST(WorkbookFiles, ExportUnderAUtf8NameHoldsExactlyTheEncodedBytes) {
  test::TempDir dir;
  test::FakeClock clock;
  test::RecordingNotifier notifier;
  const DayLog log = test::MakeLog(3000);
  // Not ASCII, so a narrow code page on the way to the file system would show.
  const ExportParams params = Params(Utf8FromPath(dir.path()) + "/Ertrag \xC3\xBC \xE4\xB8\xAD");
  ASSERT_TRUE(WriteWorkbook(log, params, WorkbookMode::History, {clock, notifier, nullptr}));
  EXPECT_EQ(notifier.Count(), 0u);
  const std::string name = "Ertrag \xC3\xBC \xE4\xB8\xAD.xls";
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{name});
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(dir.path() / PathFromUtf8(name)),
                        ExpectedBytes(log, params, WorkbookMode::History, clock)));
}

TEST(WorkbookFiles, HistorySaveCreatesItsFolderAndReplacesItsFile) {
  test::TempDir exeDir;
  test::FakeClock clock;
  test::RecordingNotifier notifier;
  HistoryStore store(exeDir.path(), WorkbookEnv{clock, notifier, nullptr});
  store.SaveHistory(10, {test::MakeLog(10, 60000), "000000000001", 50, kStart});
  const DayLog log = test::MakeLog(1440, 60000);
  store.SaveHistory(20, {log, "000000000001", 50, kStart});
  EXPECT_EQ(notifier.Count(), 0u);

  const std::string name = "000000000001,5000,2011-11-24 08-05.xls";
  const auto file = exeDir.path() / "hisdata" / name;
  EXPECT_EQ(Entries(exeDir.path() / "hisdata"), std::vector<std::string>{name});
  ExportParams params = Params(store.ExportPath());
  params.stepMin = 1;
  EXPECT_TRUE(SameBytes(test::ReadFileBytes(file),
                        ExpectedBytes(log, params, WorkbookMode::History, clock)));
  // For a comparison across builds (scripts/windows-test): where to put a copy.
  if (const char* copy = std::getenv("PYRANEX_TEST_WORKBOOK_COPY")) {
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
  }
}

TEST(WorkbookFiles, FailedSavesSayWhyAndKeepThePreviousFile) {
  test::TempDir dir;
  const std::vector<uint8_t> before = {'o', 'l', 'd', '\n'};
  const std::vector<uint8_t> after = {'n', 'e', 'w', '\r', '\n', 0};
  const auto file = dir / "kept.xls";
  ASSERT_EQ(WriteFileAtomically(file, {before}), "");

  const std::string missing = WriteFileAtomically(dir / "no-such-folder" / "x.xls", {after});
  EXPECT_EQ(missing.rfind("cannot create a file in the folder: ", 0), 0u) << missing;
  EXPECT_GT(missing.size(), 36u) << "no reason given";

  std::filesystem::create_directory(dir / "a-folder.xls");
  const std::string folder = WriteFileAtomically(dir / "a-folder.xls", {after});
  EXPECT_EQ(folder.rfind("cannot replace: ", 0), 0u) << folder;

#ifdef _WIN32
  {
    // A file open in another program that does not share its deletion (as a spreadsheet program
    // holds an open workbook) cannot be replaced; the save says so.
    const HANDLE held = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::string open = WriteFileAtomically(file, {after});
    ::CloseHandle(held);
    EXPECT_EQ(open.rfind("cannot replace: ", 0), 0u) << open;
  }
#endif
  EXPECT_EQ(test::ReadFileBytes(file), std::string(before.begin(), before.end()));
  auto names = Entries(dir.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a-folder.xls", "kept.xls"}));  // nothing left over

  ASSERT_EQ(WriteFileAtomically(file, {after, before}), "");
  EXPECT_EQ(test::ReadFileBytes(file), "new\r\n" + std::string(1, '\0') + "old\n");
}

TEST(PrivateFileCopy, ReadableByNameUnchangeableAndGoneAfterwards) {
  std::vector<uint8_t> bytes(70000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  std::string name;
  {
    PrivateFileCopy copy;
    std::string why;
    ASSERT_TRUE(copy.Create(bytes, why)) << why;
    name = copy.Name();
    std::FILE* file = std::fopen(name.c_str(), "rb");
    ASSERT_NE(file, nullptr) << name;
    std::vector<uint8_t> read(bytes.size() + 1);
    EXPECT_EQ(std::fread(read.data(), 1, read.size(), file), bytes.size());
    std::fclose(file);
    read.pop_back();
    EXPECT_EQ(read, bytes);
#ifdef _WIN32
    const HANDLE writer = ::CreateFileA(name.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "another program could change the copy";
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
#endif
  }
  std::FILE* gone = std::fopen(name.c_str(), "rb");
  EXPECT_EQ(gone, nullptr) << name;
  if (gone) std::fclose(gone);
}

}  // namespace
}  // namespace pyranex
