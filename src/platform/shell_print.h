#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace platform {

/// A program and its arguments, started without a shell.
struct PrintCommand {
    QString program;
    QStringList arguments;
    bool operator==(const PrintCommand&) const = default;
};

/// What the shell's "print" verb runs for the file at `path`, decided by its type (content and
/// name): PDF, PostScript, plain text and the images CUPS prints go to `lp FILE`, which prints
/// on the default printer; office documents go to `soffice --headless -p FILE` when LibreOffice
/// can print them (Writer installed, not its -nogui build, and the module of the document's kind:
/// Writer, Calc or Impress). The file is given by its absolute path, unchanged. Any other type,
/// a missing file or a folder has no print action: none.
std::optional<PrintCommand> ShellPrintCommand(const QString& path);

/// Whether the LibreOffice found here can print documents of its module `module` ("swlo" for
/// Writer, "sclo" Calc, "sdlo" Impress): a soffice of a build linked to CUPS, with that module.
bool LibreOfficeCanPrint(const QString& module = QStringLiteral("swlo"));

/// The shell's "print" verb: starts ShellPrintCommand(path) with its streams on /dev/null and
/// returns at once; `returned` is called from the event loop once the program has ended (or
/// could not be started). False, without calling `returned`, when the file has no print action.
bool ShellPrint(const QString& path, std::function<void()> returned);

} // namespace platform
