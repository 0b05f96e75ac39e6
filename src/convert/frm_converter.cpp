#include "frm_converter.h"

#include "frm_menu.h"
#include "options_dialog.h"
#include "settings_files.h"

#include "platform/app_folders.h"
#include "platform/beside_events.h"
#include "platform/common_dialogs.h"
#include "platform/conventions.h"
#include "platform/paths.h"
#include "platform/prompts.h"
#include "platform/raw_names.h"
#include "platform/sound.h"
#include "platform/work_folders.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

namespace convert {
namespace {

constexpr int TwipsPerPixel = 15;
constexpr int ClientWidth = 720;
constexpr int ClientHeight = 489;
// The settings editors stand over the Value column, 9340 twips from the window's left edge.
constexpr int EditorLeft = 9340 / TwipsPerPixel;
constexpr int EditorTopOffset = 10 / TwipsPerPixel;

// "Drag && Drop Files Here" in the escaped form of a caption: a label without a buddy shows its
// text as it stands, so it holds the one "&" that is to be seen.
const QString idleHint = QStringLiteral("Drag & Drop Files Here");

struct ToolbarButton {
    const char* name;
    const char* caption;
    const char* hint;
    QStyle::StandardPixmap picture;
    int x;
};

constexpr ToolbarButton toolbarButtons[6] = {
    {"CmdToolsBar0", QT_TRANSLATE_NOOP("convert::frmConverter", "Add"),
     QT_TRANSLATE_NOOP("convert::frmConverter", "Add a PDF File"), QStyle::SP_FileIcon, 0},
    {"CmdToolsBar1", QT_TRANSLATE_NOOP("convert::frmConverter", "Add Folder"),
     QT_TRANSLATE_NOOP("convert::frmConverter", "Add PDF Files from a Folder"),
     QStyle::SP_DirOpenIcon, 94},
    {"CmdToolsBar2", QT_TRANSLATE_NOOP("convert::frmConverter", "Remove"),
     QT_TRANSLATE_NOOP("convert::frmConverter", "Remove File(s) from List"), QStyle::SP_TrashIcon,
     188},
    {"CmdToolsBar3", QT_TRANSLATE_NOOP("convert::frmConverter", "Convert"),
     QT_TRANSLATE_NOOP("convert::frmConverter", "Start Converting"), QStyle::SP_MediaPlay, 282},
    {"CmdToolsBar4", QT_TRANSLATE_NOOP("convert::frmConverter", "Help"),
     QT_TRANSLATE_NOOP("convert::frmConverter", "Help"), QStyle::SP_DialogHelpButton, 376},
    {"CmdToolsBar5", QT_TRANSLATE_NOOP("convert::frmConverter", "Exit"),
     QT_TRANSLATE_NOOP("convert::frmConverter", "Exit"), QStyle::SP_DialogCloseButton, 626},
};

// A toolbar picture of 32 pixels from the style's own, drawn from its largest size so that
// pictures the style has only small stay sharp and of one size.
QIcon toolbarIcon(const QStyle* style, QStyle::StandardPixmap which) {
    const QIcon icon = style->standardIcon(which);
    QSize largest(32, 32);
    for (const QSize& size : icon.availableSizes()) {
        if (size.width() > largest.width()) {
            largest = size;
        }
    }
    return QIcon(
        icon.pixmap(largest).scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

// A list in report view over `model`: whole rows, one selected at a time, not edited in place.
QTreeView* reportList(QWidget* parent, const QString& name, const QRect& place,
                      QAbstractItemModel* model) {
    auto* list = new QTreeView(parent);
    list->setObjectName(name);
    list->setGeometry(place);
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return list;
}

} // namespace

/// The run's view of the window: the progress label, bar and picture, the animation, the
/// request buttons, and the finishing touches through the window's services.
class frmConverter::Host : public ConversionHost {
public:
    explicit Host(frmConverter& w) : m_w(w) {}

    void setStatus(const QString& text) override { m_w.m_lblPB->setText(text); }
    void setProgress(int percent) override { m_w.m_pb->setValue(percent); }
    void setProgressWidth(int twips) override {
        m_w.m_imgPB->resize(twips / TwipsPerPixel, m_w.m_imgPB->height());
    }
    void setAnimation(bool running) override {
        if (running) {
            m_w.m_timer2->start();
        } else {
            m_w.m_timer2->stop();
            m_w.m_animation = 0;
        }
    }
    void setRequestsEnabled(bool enabled) override {
        m_w.m_cmdConvert->setEnabled(enabled);
        for (QToolButton* button : m_w.m_toolbar) {
            button->setEnabled(enabled);
        }
    }
    void openFolder(const QString& folder) override {
        m_w.m_services.openUrl(QUrl::fromLocalFile(folder));
    }
    void playSound(const QString& wavFile) override { m_w.m_services.playSound(wavFile); }
    void showExportFinished() override {
        StartExportFinishedWindow(platform::Conventions::host(), platform::AppFolder(),
                                  *m_w.m_services.processes);
    }

private:
    frmConverter& m_w;
};

frmConverter::frmConverter(QWidget* parent) : frmConverter(Services{}, parent) {}

frmConverter::frmConverter(Services services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)),
      m_library(platform::Conventions::host().join(platform::AppFolder(),
                                                   QStringLiteral("libpdftox.so"))),
      m_host(std::make_unique<Host>(*this)) {
    if (!m_services.openUrl) {
        m_services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    }
    if (!m_services.playSound) {
        m_services.playSound = platform::PlaySoundAndWait;
    }
    if (!m_services.processes) {
        m_services.processes = &platform::Processes::system();
    }
    if (!m_services.findPdfs) {
        m_services.findPdfs = [](const QString& folder) {
            QStringList found;
            platform::SearchPdfFiles(folder, found, platform::Conventions::host());
            return found;
        };
    }
    if (m_services.settingsFolder.isEmpty()) {
        m_services.settingsFolder = platform::SettingsFolder();
    }
    buildControls();
    Form_Load();
}

frmConverter::~frmConverter() = default;

void frmConverter::buildControls() {
    setObjectName(QStringLiteral("frmConverter"));
    setWindowTitle(tr("Lumadoc - PDF Converter"));
    setFixedSize(ClientWidth, ClientHeight);
    setMouseTracking(true);

    for (int i = 0; i < 6; ++i) {
        const ToolbarButton& b = toolbarButtons[i];
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setText(tr(b.caption));
        button->setToolTip(tr(b.hint));
        button->setIcon(toolbarIcon(style(), b.picture));
        button->setIconSize(QSize(32, 32));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setGeometry(b.x, 0, 95, 66);
        button->installEventFilter(this);
        // Queued: a dialog that the click opens must not hold up whoever pressed the button
        // (a screen reader waits for its press to be answered).
        connect(
            button, &QToolButton::clicked, this, [this, i] { CmdToolsBar_Click(i); },
            Qt::QueuedConnection);
        m_toolbar[static_cast<std::size_t>(i)] = button;
    }

    // The hover hint stands in the free stretch of the toolbar, left of Exit.
    m_lblButton = new QLabel(this);
    m_lblButton->setObjectName(QStringLiteral("lblButton"));
    m_lblButton->setGeometry(476, 26, 146, 16);
    m_lblButton->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_lv = reportList(this, QStringLiteral("LV"), QRect(14, 86, 455, 317), &m_queue);
    m_lv->setTextElideMode(Qt::ElideMiddle);
    m_lv->header()->setStretchLastSection(false);
    m_lv->header()->setSectionResizeMode(ConversionQueue::FileNameColumn, QHeaderView::Stretch);
    m_lv->header()->setSectionResizeMode(ConversionQueue::FormatColumn, QHeaderView::Fixed);
    m_lv->header()->resizeSection(ConversionQueue::FormatColumn, 86);
    m_lv->setAcceptDrops(true);
    m_lv->viewport()->setAcceptDrops(true);
    m_lv->setDropIndicatorShown(false);
    m_lv->viewport()->installEventFilter(this);
    m_lv->installEventFilter(this);
    m_lv->setAccessibleName(tr("Files to convert"));

    m_picText = new QWidget(this);
    m_picText->setObjectName(QStringLiteral("picText"));
    m_picText->setGeometry(156, 230, 163, 21);
    m_picText->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_lblText = new QLabel(idleHint, m_picText);
    m_lblText->setObjectName(QStringLiteral("lblText"));
    m_lblText->setGeometry(0, 0, 163, 21);
    m_lblText->setAlignment(Qt::AlignCenter);
    m_lblText->setEnabled(false);
    // A buddy makes the label read "&&" as one ampersand.
    m_lblText->setBuddy(m_lv);

    m_lblPB = new QLabel(QStringLiteral("0%"), this);
    m_lblPB->setObjectName(QStringLiteral("lblPB"));
    m_lblPB->setGeometry(14, 407, 455, 17);
    m_lblPB->setAlignment(Qt::AlignCenter);
    m_pb = new QProgressBar(this);
    m_pb->setObjectName(QStringLiteral("pb"));
    m_pb->setGeometry(14, 426, 455, 21);
    m_pb->setRange(0, 100);
    m_pb->setValue(0);
    m_pb->setTextVisible(false);
    m_pb->setAccessibleName(tr("Progress"));

    auto* label1 = new QLabel(tr("Output &Format:"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->move(490, 86);
    m_cmbOF = new QComboBox(this);
    m_cmbOF->setObjectName(QStringLiteral("cmbOF"));
    m_cmbOF->setGeometry(488, 106, 223, 24);
    m_cmbOF->addItems(FormatListTexts());
    label1->setBuddy(m_cmbOF);
    m_cmbOF->setAccessibleName(tr("Output Format:"));

    auto* label2 = new QLabel(tr("&Setting:"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    label2->move(488, 142);
    m_lv2 = reportList(this, QStringLiteral("LV2"), QRect(488, 162, 221, 160), &m_settings);
    m_lv2->header()->setStretchLastSection(true);
    m_lv2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lv2->setTextElideMode(Qt::ElideRight);
    m_lv2->header()->setSectionsMovable(false);
    m_lv2->header()->resizeSection(ConversionSettings::OptionColumn, EditorLeft - 488 - 2);
    m_lv2->installEventFilter(this);
    label2->setBuddy(m_lv2);
    m_lv2->setAccessibleName(tr("Setting:"));

    m_txtValue = new QLineEdit(this);
    m_txtValue->setObjectName(QStringLiteral("txtValue"));
    m_txtValue->setAccessibleName(tr("Value"));
    m_txtValue->hide();
    m_txtValue->installEventFilter(this);
    m_cmbYesNo = new QComboBox(this);
    m_cmbYesNo->setObjectName(QStringLiteral("cmbYesNo"));
    m_cmbYesNo->addItems({Yes, No});
    m_cmbYesNo->setAccessibleName(tr("Value"));
    m_cmbYesNo->hide();
    m_cmbYesNo->installEventFilter(this);

    auto* label3 = new QLabel(tr("Output &Path:"), this);
    label3->setObjectName(QStringLiteral("Label3"));
    label3->move(488, 332);
    m_txtPath = new QLineEdit(this);
    m_txtPath->setObjectName(QStringLiteral("txtPath"));
    m_txtPath->setGeometry(488, 352, 161, 22);
    m_txtPath->setToolTip(tr("Select a Folder to Output"));
    m_txtPath->setPlaceholderText(tr("Select a Folder to Output"));
    label3->setBuddy(m_txtPath);
    m_txtPath->setAccessibleName(tr("Output Path:"));
    m_cmdBrowse = new QPushButton(tr("Browse"), this);
    m_cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    m_cmdBrowse->setGeometry(656, 352, 51, 22);
    m_cmdBrowse->setToolTip(tr("Select an Output Folder"));
    // Narrow: a skin gives it no more padding than its caption leaves room for.
    m_cmdBrowse->setProperty("skinRole", QStringLiteral("compact"));
    m_cmdConvert = new QPushButton(tr("Convert PDF Files Now"), this);
    m_cmdConvert->setObjectName(QStringLiteral("cmdConvert"));
    m_cmdConvert->setGeometry(488, 388, 219, 61);
    m_cmdConvert->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    m_cmdConvert->setAutoDefault(false);
    QFont big = m_cmdConvert->font();
    big.setBold(true);
    m_cmdConvert->setFont(big);

    // Controls the user does not see: the command channel, the timers, and the picture bar
    // and image toolbar placed below the client area.
    m_txtAction = new QLineEdit(this);
    m_txtAction->setObjectName(QStringLiteral("txtAction"));
    m_txtAction->hide();
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(100);
    m_timer1->setSingleShot(true);
    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(100);
    m_imgPB = new QLabel(this);
    m_imgPB->setObjectName(QStringLiteral("imgPB"));
    m_imgPB->setGeometry(14, ClientHeight + 10, 0, 8);
    m_imgPB->hide();
    for (int i = 0; i < 7; ++i) {
        auto* image = new QLabel(this);
        image->setObjectName(QStringLiteral("imgToolbar%1").arg(i));
        image->setGeometry(i * 40, ClientHeight + 30, 32, 32);
        image->hide();
        m_imgToolbar[static_cast<std::size_t>(i)] = image;
    }

    m_menu = new frmMenu(this);
    // The settings dialog has no button of its own: Ctrl+, opens it, as in most programs.
    auto* settingsKey = new QShortcut(QKeySequence(QStringLiteral("Ctrl+,")), this);
    connect(settingsKey, &QShortcut::activated, this,
            [this] { sendCommand(QStringLiteral("menuOption")); });

    // Left to right, top to bottom.
    QWidget* order[] = {m_toolbar[0], m_toolbar[1], m_toolbar[2], m_toolbar[3],
                        m_toolbar[4], m_toolbar[5], m_lv,         m_cmbOF,
                        m_lv2,        m_txtPath,    m_cmdBrowse,  m_cmdConvert};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    m_picText->raise();

    connect(m_cmbOF, &QComboBox::currentIndexChanged, this, [this](int index) {
        hideEditors();
        m_settings.cmbOF_Click(index);
    });
    connect(m_lv2, &QTreeView::clicked, this, &frmConverter::openEditor);
    connect(m_txtValue, &QLineEdit::textChanged, &m_settings, &ConversionSettings::txtValue_Change);
    connect(m_cmbYesNo, &QComboBox::activated, this,
            [this](int) { m_settings.cmbYesNo_Click(m_cmbYesNo->currentText()); });
    connect(m_cmdBrowse, &QPushButton::clicked, this, &frmConverter::imgBrowse_Click,
            Qt::QueuedConnection);
    connect(m_cmdConvert, &QPushButton::clicked, this, &frmConverter::imgConvert_Click,
            Qt::QueuedConnection);
    connect(m_txtAction, &QLineEdit::textChanged, this, &frmConverter::txtAction_Change);
    connect(m_timer1, &QTimer::timeout, this, &frmConverter::Timer1_Timer);
    connect(m_timer2, &QTimer::timeout, this, &frmConverter::Timer2_Timer);
    connect(&m_queue, &QAbstractItemModel::rowsRemoved, this, &frmConverter::updateHint);
    connect(&m_queue, &QAbstractItemModel::modelReset, this, &frmConverter::updateHint);
}

QString frmConverter::setupIni() const {
    return platform::Conventions::host().join(m_services.settingsFolder,
                                              QStringLiteral("setup.ini"));
}

QString frmConverter::optionsIni() const {
    return platform::Conventions::host().join(m_services.settingsFolder,
                                              QStringLiteral("options.ini"));
}

QString frmConverter::outputFolderText() const {
    return m_txtPath->text();
}

void frmConverter::Form_Load() {
    m_dialogs = &platform::ReplaceSharedDialogs(this);
    QCoreApplication::processEvents();
    const QString tmp = platform::WorkFolders::tmp();
    const platform::Conventions conv = platform::Conventions::host();
    QFile::remove(conv.join(tmp, QStringLiteral("tmp.pdf")));
    QFile::remove(conv.join(tmp, QStringLiteral("tmp1.pdf")));
    m_animation = 0;
    m_imgPB->resize(0, m_imgPB->height());
    m_pb->setRange(0, 100);
    m_pb->setValue(0);

    m_cmbOF->setCurrentIndex(0);
    m_settings.cmbOF_Click(0);

    const ConverterSettingsState state =
        LoadSettings(setupIni(), optionsIni(), platform::DefaultOutputFolder(), FormatCount);
    m_txtPath->setText(state.outputFolder);
    if (state.formatIndex) {
        // -1 clears the selection and leaves the rows; another index rebuilds them.
        m_cmbOF->setCurrentIndex(*state.formatIndex);
    }
    m_finishSoundOff = state.finishSoundOff;
    m_textRecognition = state.textRecognition;
    updateHint();
}

// ---- the queue --------------------------------------------------------------------------

void frmConverter::updateHint() {
    m_picText->setVisible(m_queue.isEmpty());
}

void frmConverter::imgAdd_Click() {
    m_dialogs->setFileName(QString());
    m_dialogs->setTitle(tr("Open Files"));
    m_dialogs->setFilter(tr("PDF Files(*.pdf)|*.pdf"));
    const bool chosen = m_dialogs->ShowOpen();
    focusPass();
    if (!chosen) {
        return;
    }
    const QString path = m_dialogs->FileName();
    if (!path.isEmpty()) {
        m_queue.append(path);
    }
    updateHint();
}

void frmConverter::AddPdfFolder() {
    m_dialogs->setTitle(tr("Please select a folder:"));
    const bool chosen = m_dialogs->ShowFolder();
    m_picText->show();
    m_lblText->setText(tr("Searching Files..."));
    const QString folder = chosen ? m_dialogs->Path() : QString();
    if (!folder.isEmpty()) {
        // A large tree takes a while: the search runs beside the window's events.
        m_lstAddFolder =
            platform::RunBesideEvents([this, folder] { return m_services.findPdfs(folder); });
        m_queue.appendSearchResults(m_lstAddFolder);
        m_lstAddFolder.clear();
    }
    m_lblText->setText(idleHint);
    updateHint();
    focusPass();
}

void frmConverter::LV_OLEDragDrop(const QMimeData* dropped) {
    if (!dropped || !dropped->hasUrls()) {
        return;
    }
    for (const QUrl& url : dropped->urls()) {
        if (url.isLocalFile()) {
            QString path = platform::ReachableLocalFile(url);
            // A folder's URL may end in a separator; the row names the folder itself.
            if (path.size() > 1 && path.endsWith(QChar('/'))) {
                path.chop(1);
            }
            m_queue.append(path);
        }
    }
    if (!m_queue.isEmpty()) {
        QCoreApplication::processEvents();
        m_picText->hide();
    }
}

void frmConverter::imgRemove_Click() {
    const QModelIndex current = m_lv->currentIndex();
    if (!m_queue.isEmpty() && current.isValid() && m_lv->selectionModel()->isSelected(current)) {
        m_queue.removeAt(current.row());
    }
    if (m_queue.isEmpty()) {
        m_lblText->setText(idleHint);
    }
    updateHint();
    m_lstAddFolder.clear();
}

void frmConverter::menuRemoveAll_Click() {
    m_queue.clear();
    m_picText->show();
    m_lblText->setText(idleHint);
    m_lstAddFolder.clear();
}

void frmConverter::showMenuRemove() {
    QToolButton* remove = m_toolbar[2];
    // At the mouse, or under the button when the keyboard pressed it.
    const QPoint mouse = QCursor::pos();
    const bool overButton = remove->rect().contains(remove->mapFromGlobal(mouse));
    m_menu->menuRemove()->popup(overButton ? mouse
                                           : remove->mapToGlobal(remove->rect().bottomLeft()));
}

// ---- commands, toolbar, hints -----------------------------------------------------------

void frmConverter::sendCommand(const QString& command) {
    m_txtAction->setText(command);
}

void frmConverter::txtAction_Change() {
    const QString command = m_txtAction->text();
    if (command.isEmpty()) {
        return;
    }
    if (command == QStringLiteral("RemoveSelected")) {
        imgRemove_Click();
    } else if (command == QStringLiteral("A")) {
        platform::MsgBox(tr("Lumadoc, by the Lumadoc developers, 2026\r\n"
                            "Free software: you may use, share and change it.\r\n"
                            "https://lumadoc.org"),
                         platform::MessageIcon::Information);
    } else if (command == QStringLiteral("AddaFile")) {
        imgAdd_Click();
    } else if (command == QStringLiteral("menuAddaFolder")) {
        imgToolbar_Click(6);
    } else if (command == QStringLiteral("menuExit")) {
        imgExit_Click();
    } else if (command == QStringLiteral("menuHelp")) {
        OpenHelpPage();
    } else if (command == QStringLiteral("menuOption")) {
        imgToolbar_Click(3);
    } else if (command == QStringLiteral("menuConvert")) {
        imgConvert_Click();
    }
    m_txtAction->clear();
}

void frmConverter::CmdToolsBar_Click(int index) {
    // Add, Add Folder, Remove, Convert, Help, Exit: the image toolbar's actions in another order.
    constexpr int imageIndex[6] = {0, 6, 1, 2, 4, 5};
    if (index >= 0 && index < 6) {
        imgToolbar_Click(imageIndex[index]);
    }
}

void frmConverter::imgToolbar_Click(int index) {
    switch (index) {
    case 0:
        imgAdd_Click();
        break;
    case 1:
        showMenuRemove();
        break;
    case 2:
        imgConvert_Click();
        break;
    case 3:
        openSettingsDialog();
        break;
    case 4:
        OpenHelpPage();
        break;
    case 5:
        imgExit_Click();
        break;
    case 6:
        AddPdfFolder();
        break;
    default:
        break;
    }
}

void frmConverter::openSettingsDialog() {
    OptionsDialog dialog(optionsIni(), m_finishSoundOff, m_textRecognition, this);
    if (dialog.exec() == QDialog::Accepted) {
        m_finishSoundOff = dialog.finishSoundOff();
        m_textRecognition = dialog.textRecognition();
    }
}

void frmConverter::focusPass() {
    repaint();
    for (QToolButton* button : m_toolbar) {
        button->setFocus(Qt::OtherFocusReason);
    }
}

void frmConverter::OpenHelpPage() {
    m_services.openUrl(QUrl::fromLocalFile(platform::Conventions::host().join(
        platform::AppFolder(), QStringLiteral("help/index.html"))));
}

void frmConverter::imgBrowse_Click() {
    m_dialogs->setTitle(tr("Please select a folder:"));
    if (m_dialogs->ShowFolder() && !m_dialogs->Path().isEmpty()) {
        m_txtPath->setText(m_dialogs->Path());
    } else {
        m_txtPath->setText(platform::DefaultOutputFolder());
    }
    focusPass();
}

void frmConverter::Form_Click() {
    hideEditors();
}

// ---- settings editors -------------------------------------------------------------------

void frmConverter::hideEditors() {
    m_txtValue->hide();
    m_cmbYesNo->hide();
}

void frmConverter::openEditor(const QModelIndex& index) {
    if (!index.isValid()) {
        return;
    }
    const int row = index.row() + 1;
    const ConversionSettings::Editor editor = m_settings.LV2_Click(row);
    const QRect cell = m_lv2->visualRect(m_settings.index(index.row(), 1));
    const QPoint topLeft = m_lv2->viewport()->mapTo(this, cell.topLeft());
    const int top = topLeft.y() - EditorTopOffset;
    const int width = m_lv2->geometry().right() - EditorLeft - 1;
    const int height = std::max(cell.height() + 4, 22);
    const QString value = m_settings.value(row);
    if (editor == ConversionSettings::Editor::YesNo) {
        m_txtValue->hide();
        m_cmbYesNo->setGeometry(EditorLeft, top, width, height);
        m_cmbYesNo->setCurrentText(value);
        m_cmbYesNo->show();
        m_cmbYesNo->raise();
        m_cmbYesNo->setFocus();
    } else {
        m_cmbYesNo->hide();
        m_txtValue->setGeometry(EditorLeft, top, width, height);
        m_txtValue->setText(value);
        m_txtValue->show();
        m_txtValue->raise();
        m_txtValue->selectAll();
        m_txtValue->setFocus();
    }
}

// ---- the run ----------------------------------------------------------------------------

void frmConverter::imgStart_Click() {
    if (m_queue.isEmpty()) {
        platform::MsgBox(tr("Please add a file"), platform::MessageIcon::Exclamation, tr("Add"));
        return;
    }
    m_timer1->start();
}

void frmConverter::Timer1_Timer() {
    m_timer1->stop();
    if (isConverting()) {
        return;
    }
    QCoreApplication::processEvents();
    ConversionRun::Setup setup{platform::Conventions::host(),
                               platform::AppFolder(),
                               [this] { return outputFolderText(); },
                               platform::DefaultOutputFolder(),
                               m_finishSoundOff != 0,
                               [this] { return m_closeAfterRun; },
                               m_services.processes,
                               m_textRecognition};
    m_run =
        std::make_unique<ConversionRun>(std::move(setup), m_queue, m_settings, *m_host, m_library);
    m_run->RunConversion();
    if (m_closeAfterRun) {
        close();
        return;
    }
    reportSkipsAndRenames();
}

void frmConverter::reportSkipsAndRenames() {
    const QVector<ConversionHost::FileReport> missing = m_run->notWritten();
    QVector<ConversionHost::FileReport> remarked;
    for (const ConversionHost::FileReport& report : m_run->reports()) {
        if (report.outcome == ConversionHost::FileReport::Outcome::Written &&
            !report.note.isEmpty()) {
            remarked.append(report);
        }
    }
    if (missing.isEmpty() && remarked.isEmpty()) {
        return;
    }
    const auto listOf = [](const QVector<ConversionHost::FileReport>& reports, bool notes) {
        QStringList lines;
        for (const ConversionHost::FileReport& report : reports) {
            lines << tr("%1: %2").arg(
                platform::GetFileNameFromPath(report.path, platform::Conventions::host()),
                notes ? report.note : report.reason);
        }
        return lines.join(QStringLiteral("\r\n"));
    };
    QStringList parts;
    if (!missing.isEmpty()) {
        parts << (missing.size() == 1
                      ? tr("This file was not converted:")
                      : tr("These %1 files were not converted:").arg(missing.size())) +
                     QStringLiteral("\r\n\r\n") + listOf(missing, false);
    }
    if (!remarked.isEmpty()) {
        parts << (remarked.size() == 1
                      ? tr("This file was converted, with a remark:")
                      : tr("These %1 files were converted, with remarks:").arg(remarked.size())) +
                     QStringLiteral("\r\n\r\n") + listOf(remarked, true);
    }
    platform::MsgBox(parts.join(QStringLiteral("\r\n\r\n")), platform::MessageIcon::Information);
}

void frmConverter::Timer2_Timer() {
    m_animation += 5;
    if (m_animation < 100) {
        m_imgPB->resize(m_animation * 5415 / 100 / TwipsPerPixel, m_imgPB->height());
        m_pb->setValue(m_animation);
    } else {
        m_imgPB->resize(5415 / TwipsPerPixel, m_imgPB->height());
        m_pb->setValue(100);
        m_pb->repaint();
        m_animation = 0;
    }
    QCoreApplication::processEvents();
}

// ---- leaving ----------------------------------------------------------------------------

void frmConverter::saveAndShowLauncher() {
    if (m_left) {
        return;
    }
    m_left = true;
    writeSetupIni(setupIni(), m_txtPath->text(), m_cmbOF->currentIndex());
    emit launcherRequested();
}

void frmConverter::imgExit_Click() {
    saveAndShowLauncher();
    close();
}

void frmConverter::Form_Unload() {
    const QString tmp = platform::WorkFolders::tmp();
    const platform::Conventions conv = platform::Conventions::host();
    QFile::remove(conv.join(tmp, QStringLiteral("tmp1.pdf")));
    QFile::remove(conv.join(tmp, QStringLiteral("tmp2.pdf")));
    saveAndShowLauncher();
}

void frmConverter::closeEvent(QCloseEvent* event) {
    if (isConverting()) {
        // Never unloaded under a running conversion: the run stops after the file in hand,
        // then the window closes.
        m_closeAfterRun = true;
        m_lblPB->setText(tr("Stopping after this file..."));
        event->ignore();
        return;
    }
    m_timer1->stop();
    m_timer2->stop();
    Form_Unload();
    event->accept();
}

// ---- events -----------------------------------------------------------------------------

void frmConverter::mouseMoveEvent(QMouseEvent* event) {
    m_lblButton->clear();
    QWidget::mouseMoveEvent(event);
}

void frmConverter::mousePressEvent(QMouseEvent* event) {
    Form_Click();
    QWidget::mousePressEvent(event);
}

bool frmConverter::eventFilter(QObject* watched, QEvent* event) {
    for (std::size_t i = 0; i < m_toolbar.size(); ++i) {
        if (watched == m_toolbar[i] && event->type() == QEvent::Enter) {
            m_lblButton->setText(QStringLiteral("[ ") + tr(toolbarButtons[i].hint) +
                                 QStringLiteral(" ]"));
        }
    }
    if (watched == m_lv->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            LV_OLEDragDrop(drop->mimeData());
            return true;
        }
        default:
            break;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == m_lv && key->key() == Qt::Key_Delete && m_cmdConvert->isEnabled()) {
            imgRemove_Click();
            return true;
        }
        if (watched == m_lv2 && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                                 key->key() == Qt::Key_F2 || key->key() == Qt::Key_Space)) {
            openEditor(m_lv2->currentIndex());
            return true;
        }
        if ((watched == m_txtValue || watched == m_cmbYesNo) &&
            (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return ||
             key->key() == Qt::Key_Enter)) {
            if (watched == m_cmbYesNo && key->key() != Qt::Key_Escape) {
                m_settings.cmbYesNo_Click(m_cmbYesNo->currentText());
            }
            hideEditors();
            m_lv2->setFocus();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace convert
