// Builds the configuration workbook from its readable sources:
//   make-datacfg <parameters.csv> <models.csv> <datacfg.xls>
// Each CSV becomes one sheet, its first line the column names. Cells that read as numbers are
// stored as numbers; lines starting with '#' are comments.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "core/workbook/config_workbook.h"
#include "core/workbook/xls_writer.h"

namespace {

// Splits one CSV line; fields may be quoted ("a,b" and "" for a quote).
std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

bool FillSheet(pyranex::XlsWriter& writer, const char* csvPath) {
  std::ifstream in(csvPath);
  if (!in) {
    std::cerr << "make-datacfg: cannot read " << csvPath << "\n";
    return false;
  }
  std::string line;
  uint32_t row = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto fields = SplitCsv(line);
    for (uint32_t col = 0; col < fields.size(); ++col) {
      if (!writer.PutCellText(row, col, fields[col])) {
        std::cerr << "make-datacfg: " << csvPath << ": too many rows or columns\n";
        return false;
      }
    }
    ++row;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: make-datacfg <parameters.csv> <models.csv> <datacfg.xls>\n";
    return 2;
  }
  auto writer = pyranex::XlsWriter::Start();
  if (!writer) return 1;
  writer->NewWorkbook();
  writer->FirstSheet();
  writer->NameSheet(pyranex::kParameterSheetName);
  if (!FillSheet(*writer, argv[1])) return 1;
  writer->AddSheet(pyranex::kModelSheetName);
  if (!FillSheet(*writer, argv[2])) return 1;
  const std::string error = writer->SaveAs(argv[3]);
  if (!error.empty()) {
    std::cerr << "make-datacfg: cannot save " << argv[3] << ": " << error << "\n";
    return 1;
  }
  return 0;
}
