// Feeds arbitrary bytes to the configuration workbook reader as "datacfg.xls": whatever the
// file holds, reading, looking up and converting must neither crash nor overrun.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/workbook/config_workbook.h"
#include "support/fake_clock.h"

namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    auto path = std::filesystem::temp_directory_path() /
                ("pyranex-fuzz-config-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

}  // namespace

// FreeXL 1.0.6 loses a few bytes on some damaged files; those leaks are its own and are not
// reported, while a leak anywhere else still fails the run.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfreexl.so";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream out(Folder() / pyranex::kConfigWorkbookName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  pyranex::test::FakeClock clock;
  pyranex::CConfigWorkbook book(clock, Folder());
  book.ReadParameterSheet();
  book.ReadModelSheet();
  book.CloseConnection();
  if (book.LastError().size() > pyranex::kLastErrorMax) std::abort();

  double value = 0;
  for (int k = 0; k < 16; ++k) {
    for (int i = 0; i < 22; ++i) book.LookupStandardValue(k, i, value);
  }
  for (const char* serial : {"AB1x315012", "A2xSA05123", "V5xCC31999", "zz9xZ00000"}) {
    std::string s = serial;
    book.ConvertLegacySerial(s);
  }
  // The first cell texts of the file as model names and codes.
  for (const auto& column : book.ModelTable) {
    for (size_t r = 0; r < column.size() && r < 4; ++r) {
      if (column[r].size() > pyranex::kCellTextMax) std::abort();
      book.LookupModelCode(pyranex::KindByName, column[r]);
      book.LookupModelCode(pyranex::KindByOldCode, column[r]);
    }
  }
  return 0;
}
