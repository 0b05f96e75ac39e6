#pragma once

// Header only: a test that includes it links lumadoc_platform_ui.
#include "platform/dialog_backend.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

namespace testing_support {

/// A dialog backend that records every request and answers from the fields below; an
/// answer left empty (std::nullopt) is a cancelled dialog. Installs itself for its lifetime.
class RecordingDialogs : public platform::DialogBackend {
public:
    struct FileCall {
        QPointer<QWidget> owner;
        platform::FileDialogRequest request;
    };
    struct FolderCall {
        QPointer<QWidget> owner;
        QString title;
        QString startFolder;
    };

    RecordingDialogs() { platform::DialogBackend::install(this); }
    ~RecordingDialogs() override { platform::DialogBackend::install(nullptr); }

    std::optional<QString> openFile(QWidget* owner,
                                    const platform::FileDialogRequest& request) override {
        opens.append({owner, request});
        return openAnswer;
    }
    std::optional<QString> saveFile(QWidget* owner,
                                    const platform::FileDialogRequest& request) override {
        saves.append({owner, request});
        return saveAnswer;
    }
    std::optional<QString> folder(QWidget* owner, const QString& title,
                                  const QString& startFolder) override {
        folders.append({owner, title, startFolder});
        return folderAnswer;
    }
    std::optional<QColor> color(QWidget*, const QColor& initial, bool fullOpen) override {
        colorInitials.append(initial);
        colorFullOpen.append(fullOpen);
        return colorAnswer;
    }
    std::optional<QFont> font(QWidget*, const QFont& initial) override {
        fontInitials.append(initial);
        return fontAnswer;
    }
    bool printer(QWidget*) override {
        ++printerCalls;
        return printerAnswer;
    }
    bool printerProperties(QWidget*) override {
        ++printerPropertiesCalls;
        return printerPropertiesAnswer;
    }

    std::optional<QString> openAnswer;
    std::optional<QString> saveAnswer;
    std::optional<QString> folderAnswer;
    std::optional<QColor> colorAnswer;
    std::optional<QFont> fontAnswer;
    bool printerAnswer = false;
    bool printerPropertiesAnswer = false;

    QList<FileCall> opens;
    QList<FileCall> saves;
    QList<FolderCall> folders;
    QList<QColor> colorInitials;
    QList<bool> colorFullOpen;
    QList<QFont> fontInitials;
    int printerCalls = 0;
    int printerPropertiesCalls = 0;
};

} // namespace testing_support
