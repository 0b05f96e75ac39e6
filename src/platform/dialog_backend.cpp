#include "dialog_backend.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

namespace platform {
namespace {

DialogBackend* g_installed = nullptr;

std::optional<QString> runFileDialog(QWidget* owner, const FileDialogRequest& request,
                                     QFileDialog::AcceptMode mode) {
    QFileDialog dialog(owner, request.title, request.startFolder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The filters carry their patterns twice (label and list); show the label only.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen && request.mustExist
                           ? QFileDialog::ExistingFile
                           : QFileDialog::AnyFile);
    if (!request.nameFilters.isEmpty()) {
        dialog.setNameFilters(request.nameFilters);
        dialog.selectNameFilter(request.selectedFilter);
    }
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.initialName.isEmpty()) {
        dialog.selectFile(request.initialName);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        return std::nullopt;
    }
    return chosen.first();
}

} // namespace

DialogBackend& DialogBackend::current() {
    static QtDialogBackend fallback;
    return g_installed ? *g_installed : fallback;
}

void DialogBackend::install(DialogBackend* backend) {
    g_installed = backend;
}

std::optional<QString> QtDialogBackend::openFile(QWidget* owner, const FileDialogRequest& request) {
    return runFileDialog(owner, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtDialogBackend::saveFile(QWidget* owner, const FileDialogRequest& request) {
    return runFileDialog(owner, request, QFileDialog::AcceptSave);
}

std::optional<QString> QtDialogBackend::folder(QWidget* owner, const QString& title,
                                               const QString& startFolder) {
    const QString chosen = QFileDialog::getExistingDirectory(
        owner, title, startFolder, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen;
}

std::optional<QColor> QtDialogBackend::color(QWidget* owner, const QColor& initial, bool) {
    // Qt's colour dialog always shows its custom colour part, so there is nothing to open.
    const QColor chosen =
        QColorDialog::getColor(initial, owner, QString(), QColorDialog::DontUseNativeDialog);
    if (!chosen.isValid()) {
        return std::nullopt;
    }
    return chosen;
}

std::optional<QFont> QtDialogBackend::font(QWidget* owner, const QFont& initial) {
    bool ok = false;
    const QFont chosen =
        QFontDialog::getFont(&ok, initial, owner, QString(), QFontDialog::DontUseNativeDialog);
    if (!ok) {
        return std::nullopt;
    }
    return chosen;
}

bool QtDialogBackend::printer(QWidget* owner) {
    QPrinter printer;
    QPrintDialog dialog(&printer, owner);
    dialog.setOptions(QAbstractPrintDialog::PrintShowPageSize |
                      QAbstractPrintDialog::PrintCollateCopies);
    return dialog.exec() == QDialog::Accepted;
}

bool QtDialogBackend::printerProperties(QWidget* owner) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        return false;
    }
    QPrinter printer(info);
    QPageSetupDialog dialog(&printer, owner);
    dialog.exec();
    return true;
}

} // namespace platform
