#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "test_files.h"

namespace pyranex::test {

// One cell as an independent reader sees it.
struct ReadCell {
  bool number = false;
  double value = 0;
  std::string text;
  friend bool operator==(const ReadCell&, const ReadCell&) = default;
};

// (sheet, row, col) -> cell; empty cells are absent.
using CellMap = std::map<std::tuple<int, uint32_t, uint32_t>, ReadCell>;

struct ReadBook {
  bool ok = false;
  std::string error;
  std::vector<std::string> sheetNames;
  CellMap cells;
};

// Reads with FreeXL's C interface directly.
ReadBook ReadWithFreeXl(const std::filesystem::path& path);
// Reads with python3-xlrd through xlrd_dump.py.
ReadBook ReadWithXlrd(const std::filesystem::path& path);

// Runs a command line; returns its exit status and puts stdout into out.
int RunCommand(const std::string& command, std::string* out = nullptr);
std::string Quote(const std::string& text);

// Writes a workbook with python3-xlwt from the description format of xlwt_book.py.
bool WriteWithXlwt(const std::string& description, const std::filesystem::path& target);

}  // namespace pyranex::test
