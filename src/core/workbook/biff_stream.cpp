#include "core/workbook/biff_stream.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace pyranex {
namespace {

constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kCodepage = 0x0042;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kExtSst = 0x00FF;
constexpr uint16_t kWsBool = 0x0081;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kMulRk = 0x00BD;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kWindow2 = 0x023E;

constexpr uint16_t kDefaultCellXf = 15;
constexpr size_t kMinStreamSize = 4096;

class Out {
 public:
  explicit Out(std::vector<uint8_t>& bytes) : b_(bytes) {}
  void U8(uint8_t v) { b_.push_back(v); }
  void U16(uint16_t v) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Bytes(bytes, 2);
  }
  void U32(uint32_t v) {
    uint8_t bytes[4];
    Le32(bytes, v);
    Bytes(bytes, 4);
  }
  void Bytes(const void* data, size_t n) {
    const size_t at = b_.size();
    b_.resize(at + n);
    std::memcpy(b_.data() + at, data, n);
  }

  // Records: Begin writes the header with a zero length that End fills in.
  void Begin(uint16_t type) {
    U16(type);
    recordStart_ = b_.size();
    U16(0);
  }
  void End() {
    const size_t n = b_.size() - recordStart_ - 2;
    b_[recordStart_] = static_cast<uint8_t>(n);
    b_[recordStart_ + 1] = static_cast<uint8_t>(n >> 8);
  }
  size_t DataSize() const { return b_.size() - recordStart_ - 2; }
  size_t RecordHeaderPos() const { return recordStart_ - 2; }
  size_t Pos() const { return b_.size(); }
  void PatchU32(size_t at, uint32_t v) { Le32(b_.data() + at, v); }

  static void Le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
  static void Le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }

 private:
  std::vector<uint8_t>& b_;
  size_t recordStart_ = 0;
};

void Bof(Out& o, uint16_t kind) {
  o.Begin(kBof);
  o.U16(0x0600);  // BIFF8
  o.U16(kind);    // 0x0005 globals, 0x0010 worksheet
  o.U16(0x0DBB);  // build
  o.U16(0x07CC);  // year
  o.U32(0);
  o.U32(0x00000006);
  o.End();
}

void Eof(Out& o) {
  o.Begin(kEof);
  o.End();
}

void Font(Out& o) {
  static constexpr char kName[] = "Arial";
  o.Begin(kFont);
  o.U16(200);     // 10 pt in twips
  o.U16(0);       // no attributes
  o.U16(0x7FFF);  // automatic colour
  o.U16(400);     // normal weight
  o.U16(0);       // no super/subscript
  o.U8(0);        // no underline
  o.U8(0);        // family
  o.U8(0);        // character set
  o.U8(0);
  o.U8(sizeof kName - 1);
  o.U8(0);  // 8-bit characters
  o.Bytes(kName, sizeof kName - 1);
  o.End();
}

void Xf(Out& o, uint16_t font, bool style, uint8_t usedAttributes) {
  o.Begin(kXf);
  o.U16(font);
  o.U16(0);                        // General number format
  o.U16(style ? 0xFFF5 : 0x0001);  // locked; style XFs have no parent
  o.U8(0x20);                      // bottom aligned
  o.U8(0);
  o.U8(0);
  o.U8(usedAttributes);
  o.U32(0);
  o.U32(0);
  o.U16(0x20C0);  // automatic pattern colours
  o.End();
}

void Globals(Out& o) {
  Bof(o, 0x0005);
  o.Begin(kCodepage);
  o.U16(1200);  // UTF-16
  o.End();
  o.Begin(kWindow1);
  o.U16(0);
  o.U16(0);
  o.U16(0x3000);
  o.U16(0x1E00);
  o.U16(0x0038);
  o.U16(0);  // active sheet
  o.U16(0);  // first visible tab
  o.U16(1);  // selected tabs
  o.U16(0x0258);
  o.End();
  for (int i = 0; i < 4; ++i) Font(o);
  for (uint16_t i = 0; i < 15; ++i) {
    const uint16_t font = (i == 1 || i == 2) ? 1 : (i == 3 || i == 4) ? 2 : 0;
    Xf(o, font, true, i == 0 ? 0x00 : 0xF4);
  }
  Xf(o, 0, false, 0x00);
  o.Begin(kStyle);
  o.U16(0x8000);  // built-in style on XF 0
  o.U8(0);        // "Normal"
  o.U8(0xFF);
  o.End();
}

// Shared string table. A string's header and first character never straddle two records; its
// characters may continue in a CONTINUE record, which then starts with the width flag again.
void SharedStrings(Out& o, const XlsContent& c, uint32_t references) {
  const uint32_t unique = static_cast<uint32_t>(c.strings.size());
  const uint32_t perBucket = std::max<uint32_t>(8, (unique + 127) / 128);
  struct Bucket {
    uint32_t streamPos;
    uint16_t recordOffset;
  };
  std::vector<Bucket> buckets;

  o.Begin(kSst);
  o.U32(references);
  o.U32(unique);
  for (uint32_t i = 0; i < unique; ++i) {
    const XlsString& s = c.strings[i];
    const size_t unit = s.wide ? 2 : 1;
    const size_t firstPart = 3 + (s.units ? unit : 0);
    if (o.DataSize() + firstPart > kBiffMaxRecordData) {
      o.End();
      o.Begin(kContinue);
    }
    if (i % perBucket == 0) {
      buckets.push_back(
          {static_cast<uint32_t>(o.Pos()), static_cast<uint16_t>(o.Pos() - o.RecordHeaderPos())});
    }
    o.U16(s.units);
    o.U8(s.wide ? 1 : 0);
    size_t done = 0;
    const size_t total = s.units;
    while (done < total) {
      size_t room = (kBiffMaxRecordData - o.DataSize()) / unit;
      if (room == 0) {
        o.End();
        o.Begin(kContinue);
        o.U8(s.wide ? 1 : 0);
        room = (kBiffMaxRecordData - o.DataSize()) / unit;
      }
      const size_t n = std::min(room, total - done);
      o.Bytes(s.bytes.data() + done * unit, n * unit);
      done += n;
    }
  }
  o.End();

  o.Begin(kExtSst);
  o.U16(static_cast<uint16_t>(perBucket));
  for (const Bucket& b : buckets) {
    o.U32(b.streamPos);
    o.U16(b.recordOffset);
    o.U16(0);
  }
  o.End();
}

void Sheet(Out& o, const XlsSheetContent& c, bool first) {
  Bof(o, 0x0010);
  o.Begin(kWsBool);
  o.U16(0x04C1);
  o.End();

  uint8_t firstCol = UINT8_MAX, lastCol = 0;
  for (const XlsCell& cell : c.cells) {
    firstCol = std::min(firstCol, cell.col);
    lastCol = std::max(lastCol, cell.col);
  }
  o.Begin(kDimensions);
  if (c.cells.empty()) {
    o.U32(0), o.U32(0), o.U16(0), o.U16(0);
  } else {
    o.U32(c.cells.front().row), o.U32(c.cells.back().row + 1u), o.U16(firstCol),
        o.U16(static_cast<uint16_t>(lastCol + 1));
  }
  o.U16(0);
  o.End();

  // Numbers that have an RK form go out as RK, or MULRK for a run of neighbours in a row.
  const auto rkOf = [&c](size_t k, uint32_t& rk) {
    return c.cells[k].kind == XlsCell::Kind::Number && EncodeRk(c.cells[k].number, rk);
  };
  uint8_t record[4 + kBiffMaxRecordData];
  uint32_t rk = 0;
  bool haveRk = !c.cells.empty() && rkOf(0, rk);  // the RK form of cells[i], if any
  for (size_t i = 0; i < c.cells.size();) {
    const XlsCell& cell = c.cells[i];
    uint8_t* p = record + 8;
    Out::Le16(record + 4, cell.row);
    Out::Le16(record + 6, cell.col);
    if (haveRk) {
      // Each cell's RK form is worked out once: the one that ends a run starts the next.
      size_t end = i;
      do {
        Out::Le16(p, kDefaultCellXf);
        Out::Le32(p + 2, rk);
        p += 6;
        ++end;
        haveRk = end < c.cells.size() && rkOf(end, rk);
      } while (haveRk && c.cells[end].row == cell.row &&
               c.cells[end].col == c.cells[end - 1].col + 1 && end - i < 1000);
      const size_t n = end - i;
      if (n > 1) {
        Out::Le16(p, c.cells[end - 1].col);
        p += 2;
      }
      Out::Le16(record, n == 1 ? kRk : kMulRk);
      Out::Le16(record + 2, static_cast<uint16_t>(p - record - 4));
      o.Bytes(record, static_cast<size_t>(p - record));
      i = end;
      continue;
    }
    Out::Le16(p, kDefaultCellXf);
    if (cell.kind == XlsCell::Kind::Number) {
      Out::Le16(record, kNumber);
      Out::Le16(record + 2, 14);
      std::memcpy(p + 2, &cell.number, 8);
      o.Bytes(record, 18);
    } else {
      Out::Le16(record, kLabelSst);
      Out::Le16(record + 2, 10);
      Out::Le32(p + 2, cell.sst);
      o.Bytes(record, 14);
    }
    ++i;
    haveRk = i < c.cells.size() && rkOf(i, rk);
  }

  o.Begin(kWindow2);
  // Grid, headers, zeros, automatic colour, outline; the first sheet is selected and active.
  o.U16(first ? 0x06B6 : 0x00B6);
  o.U16(0);
  o.U16(0);
  o.U16(0x40);
  o.U16(0);
  o.U16(0);
  o.U16(0);
  o.U32(0);
  o.End();
  Eof(o);
}

}  // namespace

bool EncodeRk(double value, uint32_t& rk) {
  constexpr double kLimit = 536870912.0;  // 2^29
  // Adding and taking away 1.5 * 2^52 rounds any value below 2^51 to an integer in one step,
  // without a call to the library (ties go to even, which no RK value lies on).
  constexpr double kRounder = 6755399441055744.0;
  if (!std::isfinite(value) || (value == 0 && std::signbit(value))) return false;
  // Readers take an integer RK as int / 1 or int / 100 (the last bit says which).
  for (const int scale : {1, 100}) {
    const double product = value * scale;
    if (!(product > -2 * kLimit && product < 2 * kLimit)) continue;
    const double scaled = (product + kRounder) - kRounder;
    if (scaled >= -kLimit && scaled < kLimit && scaled / scale == value) {
      rk = static_cast<uint32_t>(static_cast<int32_t>(scaled)) << 2 | (scale == 1 ? 2u : 3u);
      return true;
    }
  }
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if ((bits & 0x3FFFFFFFFull) != 0) return false;
  rk = static_cast<uint32_t>(bits >> 32);
  return true;
}

std::vector<uint8_t> EncodeWorkbookStream(const XlsContent& content) {
  uint32_t references = 0;
  size_t cells = 0;
  for (const XlsSheetContent& sheet : content.sheets) {
    for (const XlsCell& cell : sheet.cells) {
      if (cell.kind == XlsCell::Kind::String) ++references;
    }
    cells += sheet.cells.size();
  }
  size_t stringBytes = 0;
  for (const XlsString& s : content.strings) stringBytes += 3 + s.bytes.size();

  std::vector<uint8_t> bytes;
  bytes.reserve(1024 + stringBytes + stringBytes / kBiffMaxRecordData * 5 + cells * 18);
  Out o(bytes);
  Globals(o);

  std::vector<size_t> offsetFields;
  for (const XlsSheetContent& sheet : content.sheets) {
    const XlsString name = EncodeXlsString(sheet.name.substr(0, 31));
    o.Begin(kBoundSheet);
    offsetFields.push_back(o.Pos());
    o.U32(0);  // the sheet's BOF position, patched below
    o.U8(0);   // visible
    o.U8(0);   // worksheet
    o.U8(static_cast<uint8_t>(name.units));
    o.U8(name.wide ? 1 : 0);
    o.Bytes(name.bytes.data(), name.bytes.size());
    o.End();
  }

  SharedStrings(o, content, references);
  Eof(o);

  for (size_t i = 0; i < content.sheets.size(); ++i) {
    o.PatchU32(offsetFields[i], static_cast<uint32_t>(o.Pos()));
    Sheet(o, content.sheets[i], i == 0);
  }
  if (bytes.size() < kMinStreamSize) bytes.resize(kMinStreamSize, 0);
  return bytes;
}

}  // namespace pyranex
