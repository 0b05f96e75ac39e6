#pragma once

#include "conversion_queue.h"
#include "conversion_run.h"
#include "conversion_settings.h"
#include "export_library.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
class QTreeView;

namespace platform {
class CCommonDialogs;
}

namespace convert {

class frmMenu;

/// The batch converter window "Lumadoc - PDF Converter": the file queue on the left, the output
/// format, its settings and the output folder on the right, the toolbar above. It binds the
/// plain classes (ConversionQueue, ConversionSettings, ConversionRun) to its controls and
/// forwards their events; the controls carry the names of the window's design as objectName.
class frmConverter : public QWidget {
    Q_OBJECT
public:
    /// What the window does outside itself; tests replace each part.
    struct Services {
        std::function<bool(const QUrl&)> openUrl;      ///< folders and the help page
        std::function<void(const QString&)> playSound; ///< returns when the sound is over
        platform::Processes* processes = nullptr;      ///< null: the host's
        std::function<QStringList(const QString&)>
            findPdfs;           ///< the folder search; null: the real one
        QString settingsFolder; ///< of "setup.ini" and "options.ini"; empty: the program's
    };

    explicit frmConverter(QWidget* parent = nullptr);
    frmConverter(Services services, QWidget* parent = nullptr);
    ~frmConverter() override;

    ConversionQueue& queue() { return m_queue; }
    ConversionSettings& settings() { return m_settings; }
    /// The run in progress, or null.
    const ConversionRun* run() const { return m_run.get(); }
    bool isConverting() const { return m_run && m_run->isRunning(); }
    /// The hidden list of the last folder search's results (emptied after use).
    const QStringList& lstAddFolder() const { return m_lstAddFolder; }
    int animationCounter() const { return m_animation; }

    /// Writes a command into the command channel, as the menu form does.
    void sendCommand(const QString& command);

public slots:
    void imgAdd_Click();
    void AddPdfFolder();
    void imgRemove_Click();
    void menuRemoveAll_Click();
    void imgStart_Click();
    void imgConvert_Click() { imgStart_Click(); }
    void imgBrowse_Click();
    void OpenHelpPage();
    void imgExit_Click();
    void imgToolbar_Click(int index);
    void CmdToolsBar_Click(int index);
    void Timer1_Timer();
    void Timer2_Timer();
    void Form_Click();
    /// Files or folders dropped on the queue: every URL of the drop's list, in its order.
    void LV_OLEDragDrop(const QMimeData* dropped);

signals:
    /// The window was left (Exit or closed): the launcher should come back.
    void launcherRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Host;

    void buildControls();
    void Form_Load();
    void Form_Unload();
    void saveAndShowLauncher();
    void txtAction_Change();
    void focusPass();
    void updateHint();
    void showMenuRemove();
    void openSettingsDialog();
    void openEditor(const QModelIndex& index);
    void hideEditors();
    void reportSkipsAndRenames();
    QString setupIni() const;
    QString optionsIni() const;
    QString outputFolderText() const;

    Services m_services;
    ConversionQueue m_queue;
    ConversionSettings m_settings;
    ExportLibrary m_library;
    std::unique_ptr<Host> m_host;
    std::unique_ptr<ConversionRun> m_run;
    frmMenu* m_menu = nullptr;
    platform::CCommonDialogs* m_dialogs = nullptr;
    QStringList m_lstAddFolder;
    int m_animation = 0;
    int m_finishSoundOff = 0;
    bool m_textRecognition = true;
    bool m_closeAfterRun = false;
    bool m_left = false; ///< "setup.ini" written and the launcher asked for

    std::array<QToolButton*, 6> m_toolbar{};
    std::array<QLabel*, 7> m_imgToolbar{};
    QLabel* m_lblButton = nullptr;
    QTreeView* m_lv = nullptr;
    QWidget* m_picText = nullptr;
    QLabel* m_lblText = nullptr;
    QLabel* m_lblPB = nullptr;
    QProgressBar* m_pb = nullptr;
    QLabel* m_imgPB = nullptr;
    QComboBox* m_cmbOF = nullptr;
    QTreeView* m_lv2 = nullptr;
    QLineEdit* m_txtValue = nullptr;
    QComboBox* m_cmbYesNo = nullptr;
    QLineEdit* m_txtPath = nullptr;
    QPushButton* m_cmdBrowse = nullptr;
    QPushButton* m_cmdConvert = nullptr;
    QLineEdit* m_txtAction = nullptr;
    QTimer* m_timer1 = nullptr;
    QTimer* m_timer2 = nullptr;
};

} // namespace convert
