#include "xls_readback.h"

#include <freexl.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace pyranex::test {

ReadBook ReadWithFreeXl(const std::filesystem::path& path) {
  ReadBook book;
  const void* handle = nullptr;
  int rc = freexl_open(path.c_str(), &handle);
  if (rc != FREEXL_OK) {
    if (handle) freexl_close(handle);
    book.error = "freexl_open " + std::to_string(rc);
    return book;
  }
  unsigned int sheets = 0;
  freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
  for (unsigned short s = 0; s < sheets; ++s) {
    const char* name = nullptr;
    freexl_get_worksheet_name(handle, s, &name);
    book.sheetNames.push_back(name ? name : "");
    if (freexl_select_active_worksheet(handle, s) != FREEXL_OK) continue;
    unsigned int rows = 0;
    unsigned short cols = 0;
    freexl_worksheet_dimensions(handle, &rows, &cols);
    for (unsigned int r = 0; r < rows; ++r) {
      for (unsigned short c = 0; c < cols; ++c) {
        FreeXL_CellValue v{};
        rc = freexl_get_cell_value(handle, r, c, &v);
        if (rc != FREEXL_OK) {
          book.error = "freexl_get_cell_value " + std::to_string(rc);
          freexl_close(handle);
          return book;
        }
        ReadCell cell;
        if (v.type == FREEXL_CELL_INT) {
          cell.number = true;
          cell.value = v.value.int_value;
        } else if (v.type == FREEXL_CELL_DOUBLE) {
          cell.number = true;
          cell.value = v.value.double_value;
        } else if (v.type == FREEXL_CELL_TEXT || v.type == FREEXL_CELL_SST_TEXT) {
          cell.text = v.value.text_value;
        } else {
          continue;
        }
        book.cells[{s, r, c}] = cell;
      }
    }
  }
  freexl_close(handle);
  book.ok = true;
  return book;
}

std::string Quote(const std::string& text) {
  std::string q = "'";
  for (const char c : text) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 65536> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    if (out) out->append(buffer.data(), n);
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char n = s[++i];
      out += n == 't' ? '\t' : n == 'n' ? '\n' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

ReadBook ReadWithXlrd(const std::filesystem::path& path) {
  ReadBook book;
  std::string out;
  const int rc =
      RunCommand("/usr/bin/python3 " + Quote(std::string(WB_TEST_DIR) + "/xlrd_dump.py") + " " +
                     Quote(path.string()) + " 2>&1",
                 &out);
  if (rc != 0) {
    book.error = out;
    return book;
  }
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::stringstream fields(line);
    std::string part;
    while (std::getline(fields, part, '\t')) f.push_back(part);
    if (f.size() == 3 && f[0] == "sheet") {
      book.sheetNames.push_back(Unescape(f[2]));
      continue;
    }
    if (f.size() < 4) continue;
    ReadCell cell;
    const std::string value = f.size() > 4 ? f[4] : "";
    if (f[3] == "n") {
      cell.number = true;
      cell.value = std::strtod(value.c_str(), nullptr);
    } else {
      cell.text = Unescape(value);
    }
    book.cells[{std::stoi(f[0]), static_cast<uint32_t>(std::stoul(f[1])),
                static_cast<uint32_t>(std::stoul(f[2]))}] = cell;
  }
  book.ok = true;
  return book;
}

bool WriteWithXlwt(const std::string& description, const std::filesystem::path& target) {
  const std::filesystem::path descPath = target.string() + ".desc";
  {
    std::ofstream desc(descPath);
    desc << description;
  }
  std::string out;
  const int rc =
      RunCommand("/usr/bin/python3 " + Quote(std::string(WB_TEST_DIR) + "/xlwt_book.py") + " " +
                     Quote(descPath.string()) + " " + Quote(target.string()) + " 2>&1",
                 &out);
  std::filesystem::remove(descPath);
  if (rc != 0) std::fprintf(stderr, "xlwt failed: %s\n", out.c_str());
  return rc == 0;
}

}  // namespace pyranex::test
