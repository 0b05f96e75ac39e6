#pragma once

#include "document_info.h"
#include "image_assembly.h"
#include "image_list.h"
#include "page_writer.h"

#include <QFutureWatcher>
#include <QImage>
#include <QUrl>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QListView;
class QMimeData;
class QProgressBar;
class QPushButton;

namespace images2pdf {

/// The image window "Create PDF From Images": the image list on the left (its order is the page
/// order), a preview of the selected image and the document information on the right, the
/// output folder, the toolbar above and "Create PDF Now" below. It binds ImageList and
/// ImageAssembly to its controls; the controls carry the names of the window's design as
/// objectName.
class frmPrinting : public QWidget {
    Q_OBJECT
public:
    /// What the window does outside itself; tests replace each part.
    struct Services {
        std::function<bool(const QUrl&)> openUrl; ///< the output folder; null: the desktop's
        std::function<void()> beep;               ///< null: the application's beep
        platform::Processes* processes = nullptr; ///< null: the host's
        /// The image-folder search; null: the real one.
        std::function<QStringList(const QString&)> findImages;
        QString settingsFolder; ///< of "quillsetting.dll"; empty: the program's
        QString pageWriter;     ///< the page-writing library; empty: the application folder's
    };

    explicit frmPrinting(QWidget* parent = nullptr);
    frmPrinting(Services services, QWidget* parent = nullptr);
    ~frmPrinting() override;

    ImageList& list() { return m_list; }
    /// The document information as the fields show it.
    DocumentInfo documentInfo() const;
    bool isAssembling() const { return m_assembly && m_assembly->isRunning(); }
    /// What the last assembly gave.
    const ImageAssembly::Result& lastResult() const { return m_lastResult; }
    /// The selected position, -1 when nothing is selected.
    int listIndex() const;

public slots:
    void CmdToolsBar_Click(int index);
    void cmdBrowse_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    /// Files dropped on the list or on the drop panel (the same steps).
    void List1_OLEDragDrop(const QMimeData* dropped);
    void picText_OLEDragDrop(const QMimeData* dropped) { List1_OLEDragDrop(dropped); }

signals:
    /// The window was closed: the launcher should come back.
    void launcherRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Host;

    void buildControls();
    void Form_Load();
    void addImage();
    void AddImageFolder();
    void removeSelected();
    void moveSelected(bool down);
    void select(int row);
    void List1_Click();
    void afterDialogRefresh();
    void setRequestsEnabled(bool enabled);
    void updateDropPanel();
    void showPreview();
    QString settingsPath() const;

    Services m_services;
    ImageList m_list;
    PageWriter m_writer;
    std::unique_ptr<Host> m_host;
    std::unique_ptr<ImageAssembly> m_assembly;
    ImageAssembly::Result m_lastResult;
    bool m_closeAfterRun = false;
    bool m_searching = false;
    bool m_unloaded = false;
    QFutureWatcher<QImage> m_preview;
    QString m_previewPath;

    std::array<QPushButton*, 7> m_toolbar{};
    QListView* m_list1 = nullptr;
    QWidget* m_picText = nullptr;
    QLabel* m_lblText = nullptr;
    QLabel* m_lblPageNum = nullptr;
    QLabel* m_picPreview = nullptr;
    QLineEdit* m_txtTitle = nullptr;
    QLineEdit* m_txtCreateFor = nullptr;
    QLineEdit* m_txtSubject = nullptr;
    QLineEdit* m_txtKeywords = nullptr;
    QLineEdit* m_txtCreationDate = nullptr;
    QLineEdit* m_txtModifyDate = nullptr;
    QLineEdit* m_txtPath = nullptr;
    QPushButton* m_cmdBrowse = nullptr;
    QPushButton* m_command1 = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_command3 = nullptr;
    QProgressBar* m_pb = nullptr;
    QLabel* m_lblPB = nullptr;
};

} // namespace images2pdf
