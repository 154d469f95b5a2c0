#include "ui/export/export_path.h"

#include <QFileDialog>
#include <filesystem>

#include "core/workbook/export_layout.h"

namespace pyranex::ui {

std::optional<std::string> AskExportPath(QWidget* parent, Notifier& notifier) {
  while (true) {
    QFileDialog saveAs(parent);
    saveAs.setAcceptMode(QFileDialog::AcceptSave);
    saveAs.setFileMode(QFileDialog::AnyFile);
    saveAs.setNameFilter(QStringLiteral(".xls (*)"));
    saveAs.setOption(QFileDialog::HideNameFilterDetails);
    saveAs.setOption(QFileDialog::DontUseNativeDialog);
    // The dialog would ask about the typed name; the question below is about the real one.
    saveAs.setOption(QFileDialog::DontConfirmOverwrite);
    if (saveAs.exec() != QDialog::Accepted || saveAs.selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    const std::string path = WorkbookSavePath(saveAs.selectedFiles().front().toStdString());
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(path), error)) return path;
    const std::string question = std::filesystem::path(path).filename().string() +
                                 " already exists.\nDo you want to replace it?";
    if (notifier.Show(question, "Confirm Save As", NoticeIcon::Warning, NoticeButtons::YesNo) ==
        NoticeAnswer::Yes) {
      return path;
    }
  }
}

}  // namespace pyranex::ui
