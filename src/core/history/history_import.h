#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/platform/clock.h"

namespace pyranex::history {

struct ImportProblem {
  std::string name;  // the workbook's file name
  std::string reason;
};

struct ImportReport {
  size_t workbooks = 0;                // found
  size_t imported = 0;                 // read and stored
  size_t recordsAdded = 0;             // new in the store
  size_t recordsPresent = 0;           // already there (an earlier import, the live recording)
  std::vector<ImportProblem> skipped;  // damaged or of another layout, with the reason
  bool cancelled = false;
  std::string failure;  // the store could not be opened or written: nothing after it went in
  bool Ok() const { return failure.empty(); }
};

// Every workbook named, and every ".xls" in the folders named (and their subfolders), sorted by
// name; names that are neither are reported.
std::vector<std::filesystem::path> FindWorkbooks(const std::vector<std::filesystem::path>& inputs,
                                                 std::vector<ImportProblem>& problems);

// Reads history workbooks into the store: each row becomes a record of the inverter named in
// the title cell, unless the store has one of that second already, so importing twice adds
// nothing and two workbooks of one day (a restart) merge into one day. The totals of every day
// touched are made again from all its records. A damaged or foreign workbook is skipped and
// named in the report; the rest go in.
class HistoryImporter {
 public:
  // done workbooks of total, the one just finished.
  using Progress = std::function<void(size_t done, size_t total, const std::string& name)>;

  HistoryImporter(std::filesystem::path storeFile, const Clock& clock)
      : storeFile_(std::move(storeFile)), clock_(clock) {}

  ImportReport Run(const std::vector<std::filesystem::path>& workbooks, const Progress& progress,
                   const std::atomic<bool>* cancel = nullptr);

 private:
  std::filesystem::path storeFile_;
  const Clock& clock_;
};

}  // namespace pyranex::history
