#include "core/workbook/workbook_export.h"

#include <algorithm>
#include <new>

#include "core/platform/messages.h"
#include "core/workbook/utf8_path.h"

namespace pyranex {
namespace {

class WriterSink final : public LayoutSink {
 public:
  WriterSink(XlsWriter& writer, MessageSink* sink) : writer_(writer), sink_(sink) {}
  void Cell(uint32_t row, uint32_t col, std::string_view text) override {
    if (!writer_.PutCellText(row, col, text)) refused_ = true;
  }
  void Progress(size_t examined, size_t total) override {
    if (sink_) {
      sink_->Post(WM_EXPORT_PROGRESS, static_cast<uintptr_t>(examined),
                  static_cast<intptr_t>(total));
    }
  }
  bool refused() const { return refused_; }

 private:
  XlsWriter& writer_;
  MessageSink* sink_;
  bool refused_ = false;
};

}  // namespace

bool WriteWorkbook(const DayLog& log, const ExportParams& params, WorkbookMode mode,
                   const WorkbookEnv& env) {
  std::unique_ptr<XlsWriter> writer = env.startWriter ? env.startWriter() : nullptr;
  if (!writer) {
    env.notifier.Show(kWriterStartFailedText, "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
    return false;
  }
  const std::string path = WorkbookSavePath(params.path);
  std::string error;
  // Nothing may escape the export thread; running out of memory is a failed save.
  try {
    writer->NewWorkbook();
    writer->FirstSheet();
    // Room for every row the range may give (untouched room costs no memory).
    const ExportRange range = FindExportRange(log, params.fromMin, params.toMin);
    const size_t rows = range.first < range.end ? range.end - range.first : 0;
    writer->ReserveCells((2 + std::min<size_t>(rows, kLastDataRow - kFirstDataRow + 1)) *
                         kColumnTitles.size());
    WriterSink cells(*writer, env.sink);
    LayoutWorkbook(log, params, mode, env.clock, cells);
    error = cells.refused() ? "a cell could not be written"
                            : writer->SaveAs(PathFromUtf8(path), kXlWorkbookNormal);
  } catch (const std::bad_alloc&) {
    error = "not enough memory";
  }
  writer->Quit();
  if (!error.empty()) {
    env.notifier.Show("Couldn't save the workbook \"" + path + "\": " + error + ".", "Quorvane",
                      NoticeIcon::Warning, NoticeButtons::Ok);
    return false;
  }
  return true;
}

int ExportThreadProc(const ExportJob& job, const WorkbookEnv& env) {
  WriteWorkbook(job.log, job.params, WorkbookMode::Interactive, env);
  if (env.sink) env.sink->Post(WM_EXPORT_DONE, 0, 0);
  return 0;
}

bool ExportThread::Start(ExportJob job, const WorkbookEnv& env) {
  if (thread_.joinable()) return false;
  thread_ = std::thread([job = std::move(job), env] { ExportThreadProc(job, env); });
  return true;
}

void ExportThread::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace pyranex
