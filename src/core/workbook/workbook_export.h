#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/platform/clock.h"
#include "core/platform/message_sink.h"
#include "core/platform/notifier.h"
#include "core/samples/day_log.h"
#include "core/workbook/export_layout.h"
#include "core/workbook/xls_writer.h"

namespace pyranex {

inline constexpr char kWriterStartFailedText[] = "Couldn't start Excel and get Application object.";

// What the workbook writer is handed: time conversion, the message box, the owner window
// (progress messages; may be null for the history save) and the way it starts its writer.
struct WorkbookEnv {
  const Clock& clock;
  Notifier& notifier;
  MessageSink* sink = nullptr;
  std::function<std::unique_ptr<XlsWriter>()> startWriter = &XlsWriter::Start;
};

// Writes the samples selected by params into a new workbook and saves it under
// WorkbookSavePath(params.path). Any failure is shown through the notifier; returns true when
// the file was saved.
bool WriteWorkbook(const DayLog& log, const ExportParams& params, WorkbookMode mode,
                   const WorkbookEnv& env);

// An interactive export: its own copy of the day log and of the parameters, taken on the
// interface thread when the export starts, so the view may keep appending, save history and
// clear the log at the day change while the export runs.
struct ExportJob {
  DayLog log;
  ExportParams params;
};

// The export thread's body: writes the job in the interactive mode, then posts
// WM_EXPORT_DONE (0, 0) whatever the outcome. Returns 0.
int ExportThreadProc(const ExportJob& job, const WorkbookEnv& env);

// Owns the running export thread; joins it (never detaches).
class ExportThread {
 public:
  ExportThread() = default;
  ~ExportThread() { Join(); }
  ExportThread(const ExportThread&) = delete;
  ExportThread& operator=(const ExportThread&) = delete;

  // Starts the thread; false when one is still attached (Join it after WM_EXPORT_DONE).
  // The clock, notifier and sink env refers to must outlive the thread.
  bool Start(ExportJob job, const WorkbookEnv& env);
  // Waits for the thread; after WM_EXPORT_DONE this returns at once.
  void Join();
  bool Running() const { return thread_.joinable(); }

 private:
  std::thread thread_;
};

}  // namespace pyranex
