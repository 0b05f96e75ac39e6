#include "frm_printing.h"

#include "platform/app_folders.h"
#include "platform/beside_events.h"
#include "platform/common_dialogs.h"
#include "platform/conventions.h"
#include "platform/paths.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QStyle>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace images2pdf {
namespace {

const QString ImageFilter = QStringLiteral(
    "BMP Files(*.BMP)|*.bmp|JPG Files(*.jpg)|*.jpg|JPEG Files(*.jpeg)|*.jpeg|GIF "
    "Files(*.gif)|*.gif|PNG Files(*.png)|*.png|TIF Files(*.tif)|*.tif|TIFF Files(*.tiff)|*.tiff");

// The drop panel's text, "Drag && Drop Files Here" in the escaped form of a caption: a label
// without a buddy shows its text as it stands, so it holds the one "&" that is to be seen.
const QString DropHint = QStringLiteral("Drag & Drop Files Here");

constexpr int PreviewSide = 220;

// The toolbar: index, caption, tool tip, standard picture; shown in this order (Up before Down).
struct Tool {
    int index;
    const char* caption;
    const char* tip;
    QStyle::StandardPixmap icon;
};
constexpr Tool Tools[] = {
    {0, "Add", "Add a PDF File", QStyle::SP_FileIcon},
    {1, "Add Folder", "Add PDF Files from a Folder", QStyle::SP_DirOpenIcon},
    {2, "Remove", "Remove File(s) from List", QStyle::SP_DialogDiscardButton},
    {3, "Clean", "Remove all from File List", QStyle::SP_TrashIcon},
    {6, "Up", "Up", QStyle::SP_ArrowUp},
    {4, "Down", "Move selected Down", QStyle::SP_ArrowDown},
    {5, "Exit", "Exit", QStyle::SP_DialogCloseButton},
};

// The preview, read upright and no larger than needed (JPEG decodes at a reduced scale).
QImage loadPreview(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid()) {
        const QImageIOHandler::Transformations turn = reader.transformation();
        if (turn & QImageIOHandler::TransformationRotate90) {
            size.transpose();
        }
        if (size.width() > PreviewSide * 2 || size.height() > PreviewSide * 2) {
            QSize scaled = size.scaled(PreviewSide * 2, PreviewSide * 2, Qt::KeepAspectRatio);
            if (turn & QImageIOHandler::TransformationRotate90) {
                scaled.transpose();
            }
            reader.setScaledSize(scaled);
        }
    }
    return reader.read();
}

QLabel* captionFor(QWidget* parent, const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    buddy->setAccessibleName(QString(text).remove(QChar(':')));
    return label;
}

} // namespace

class frmPrinting::Host : public AssemblyHost {
public:
    explicit Host(frmPrinting& w) : m_w(w) {}

    void setStatus(const QString& text) override { m_w.m_lblPB->setText(text); }
    void setProgress(int percent) override { m_w.m_pb->setValue(percent); }
    void setRequestsEnabled(bool enabled) override { m_w.setRequestsEnabled(enabled); }
    void setOutputFolderText(const QString& text) override { m_w.m_txtPath->setText(text); }
    void openFolder(const QString& folder) override {
        m_w.m_services.openUrl(QUrl::fromLocalFile(folder));
    }
    void beep() override { m_w.m_services.beep(); }

private:
    frmPrinting& m_w;
};

frmPrinting::frmPrinting(QWidget* parent) : frmPrinting(Services{}, parent) {}

frmPrinting::frmPrinting(Services services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)),
      m_writer(m_services.pageWriter.isEmpty() ? PageWriter::defaultPath() : m_services.pageWriter),
      m_host(std::make_unique<Host>(*this)) {
    if (!m_services.openUrl) {
        m_services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    }
    if (!m_services.beep) {
        m_services.beep = [] { QApplication::beep(); };
    }
    if (!m_services.findImages) {
        m_services.findImages = [](const QString& folder) {
            QStringList found;
            platform::SearchImageFiles(folder, found, platform::Conventions::host());
            return found;
        };
    }
    ImageAssembly::Setup setup;
    setup.conventions = platform::Conventions::host();
    setup.appFolder = platform::AppFolder();
    setup.settingsPath = settingsPath();
    setup.defaultOutputFolder = platform::DefaultOutputFolder();
    setup.ownerWindow = long(quintptr(this)); // opaque to the library, as a window handle is
    setup.processes = m_services.processes;
    m_assembly = std::make_unique<ImageAssembly>(setup, *m_host, m_writer);

    setObjectName(QStringLiteral("frmPrinting"));
    setWindowTitle(tr("Create PDF From Images"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    buildControls();
    connect(&m_preview, &QFutureWatcher<QImage>::finished, this, [this] {
        const QImage image = m_preview.result();
        if (image.isNull()) {
            m_picPreview->setPixmap({});
            m_picPreview->setText(tr("No preview"));
        } else {
            m_picPreview->setPixmap(QPixmap::fromImage(image.scaled(
                PreviewSide, PreviewSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        }
        // A selection that changed while this one loaded gets its own picture now.
        if (listIndex() >= 0 && m_list.paths().value(listIndex()) != m_previewPath) {
            showPreview();
        }
    });
    Form_Load();
}

frmPrinting::~frmPrinting() {
    m_preview.waitForFinished();
}

QString frmPrinting::settingsPath() const {
    return m_services.settingsFolder.isEmpty()
               ? DocumentSettingsPath()
               : m_services.settingsFolder + QStringLiteral("/quillsetting.dll");
}

void frmPrinting::buildControls() {
    auto* outer = new QVBoxLayout(this);

    auto* toolbar = new QHBoxLayout;
    for (const Tool& tool : Tools) {
        auto* button = new QPushButton(style()->standardIcon(tool.icon), tr(tool.caption), this);
        button->setObjectName(QStringLiteral("CmdToolsBar%1").arg(tool.index));
        button->setToolTip(tr(tool.tip));
        button->setAccessibleDescription(tr(tool.tip));
        // Enter presses the focused button, as Space does.
        button->setAutoDefault(true);
        connect(button, &QPushButton::clicked, this,
                [this, index = tool.index] { CmdToolsBar_Click(index); });
        m_toolbar[size_t(tool.index)] = button;
        toolbar->addWidget(button);
    }
    toolbar->addStretch();
    outer->addLayout(toolbar);

    auto* body = new QHBoxLayout;
    outer->addLayout(body, 1);

    // The list, with the drop panel lying over it while it is empty.
    auto* left = new QVBoxLayout;
    m_list1 = new QListView(this);
    m_list1->setObjectName(QStringLiteral("List1"));
    m_list1->setModel(&m_list);
    m_list1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list1->setUniformItemSizes(true);
    m_list1->setAcceptDrops(true);
    m_list1->viewport()->setAcceptDrops(true);
    m_list1->setDragDropMode(QAbstractItemView::DropOnly);
    m_list1->setMinimumSize(320, 260);
    m_list1->setAccessibleDescription(
        tr("The images in page order. Delete removes one, Ctrl+Up and Ctrl+Down move it."));
    m_list1->viewport()->installEventFilter(this);
    m_list1->installEventFilter(this);
    auto* fileList = new QLabel(tr("File List:"), this);
    fileList->setBuddy(m_list1);
    m_list1->setAccessibleName(tr("File List"));
    left->addWidget(fileList);

    m_picText = new QWidget(this);
    m_picText->setObjectName(QStringLiteral("picText"));
    m_picText->setAcceptDrops(true);
    m_picText->setAutoFillBackground(true);
    m_picText->installEventFilter(this);
    m_picText->setAccessibleName(tr("Drop panel"));
    m_lblText = new QLabel(DropHint, m_picText);
    m_lblText->setObjectName(QStringLiteral("lblText"));
    m_lblText->setAlignment(Qt::AlignCenter);
    m_lblText->setTextFormat(Qt::PlainText);
    auto* panelLayout = new QVBoxLayout(m_picText);
    panelLayout->addWidget(m_lblText);
    auto* stack = new QStackedLayout;
    stack->setStackingMode(QStackedLayout::StackAll);
    stack->addWidget(m_picText);
    stack->addWidget(m_list1);
    left->addLayout(stack, 1);
    m_lblPageNum = new QLabel(tr("Page Number of Selected File: 0"), this);
    m_lblPageNum->setObjectName(QStringLiteral("lblPageNum"));
    left->addWidget(m_lblPageNum);
    body->addLayout(left, 3);

    // The preview and the document information.
    auto* right = new QVBoxLayout;
    m_picPreview = new QLabel(tr("No image selected"), this);
    m_picPreview->setObjectName(QStringLiteral("picPreview"));
    m_picPreview->setAlignment(Qt::AlignCenter);
    m_picPreview->setFixedSize(PreviewSide + 8, PreviewSide + 8);
    m_picPreview->setFrameShape(QFrame::StyledPanel);
    m_picPreview->setAccessibleName(tr("Preview of the selected image"));
    right->addWidget(m_picPreview, 0, Qt::AlignHCenter);

    auto* form = new QGridLayout;
    const auto edit = [this](const char* name) {
        auto* line = new QLineEdit(this);
        line->setObjectName(QString::fromLatin1(name));
        return line;
    };
    m_txtTitle = edit("txtTitle");
    m_txtCreateFor = edit("txtCreateFor");
    m_txtSubject = edit("txtSubject");
    m_txtKeywords = edit("txtKeywords");
    m_txtCreationDate = edit("txtCreationDate");
    m_txtModifyDate = edit("txtModifyDate");
    m_command1 = new QPushButton(tr("Now"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setAccessibleName(tr("Now: creation date"));
    m_command1->setToolTip(tr("Set the creation date to now"));
    m_command2 = new QPushButton(tr("Now"), this);
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_command2->setAccessibleName(tr("Now: modify date"));
    m_command2->setToolTip(tr("Set the modify date to now"));
    connect(m_command1, &QPushButton::clicked, this, &frmPrinting::Command1_Click);
    connect(m_command2, &QPushButton::clicked, this, &frmPrinting::Command2_Click);
    const struct {
        const char* caption;
        QLineEdit* field;
        QPushButton* now;
    } rows[] = {{"Document Title:", m_txtTitle, nullptr},
                {"Author:", m_txtCreateFor, nullptr},
                {"Subject:", m_txtSubject, nullptr},
                {"Keywords:", m_txtKeywords, nullptr},
                {"Creation Date:", m_txtCreationDate, m_command1},
                {"Modify Date:", m_txtModifyDate, m_command2}};
    int row = 0;
    for (const auto& r : rows) {
        form->addWidget(captionFor(this, tr(r.caption), r.field), row, 0);
        form->addWidget(r.field, row, 1, 1, r.now ? 1 : 2);
        if (r.now) {
            form->addWidget(r.now, row, 2);
        }
        ++row;
    }
    m_txtPath = edit("txtPath");
    m_txtPath->setText(platform::DefaultOutputFolder());
    m_txtPath->setToolTip(tr("Select a Folder to Output"));
    m_cmdBrowse = new QPushButton(tr("Browse"), this);
    m_cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    m_cmdBrowse->setToolTip(tr("Select an Output Folder"));
    m_cmdBrowse->setAccessibleDescription(tr("Select an Output Folder"));
    connect(m_cmdBrowse, &QPushButton::clicked, this, &frmPrinting::cmdBrowse_Click);
    form->addWidget(captionFor(this, tr("Output Path:"), m_txtPath), row, 0);
    form->addWidget(m_txtPath, row, 1);
    form->addWidget(m_cmdBrowse, row, 2);
    form->setColumnStretch(1, 1);
    form->setColumnMinimumWidth(1, 260);
    right->addLayout(form);
    right->addStretch();
    body->addLayout(right, 2);

    // Progress and the start button.
    auto* bottom = new QHBoxLayout;
    m_pb = new QProgressBar(this);
    m_pb->setObjectName(QStringLiteral("pb"));
    m_pb->setRange(0, 100);
    m_pb->setValue(0);
    m_pb->setTextVisible(false);
    m_pb->setAccessibleName(tr("Progress"));
    m_lblPB = new QLabel(tr("0%"), this);
    m_lblPB->setObjectName(QStringLiteral("lblPB"));
    m_lblPB->setMinimumWidth(180);
    m_command3 = new QPushButton(tr("Create PDF Now"), this);
    m_command3->setObjectName(QStringLiteral("Command3"));
    m_command3->setDefault(true);
    connect(m_command3, &QPushButton::clicked, this, &frmPrinting::Command3_Click);
    bottom->addWidget(m_pb, 1);
    bottom->addWidget(m_lblPB);
    bottom->addWidget(m_command3);
    outer->addLayout(bottom);

    // Tab order: toolbar, list, document information, output folder, start.
    QWidget* order[] = {m_toolbar[0],      m_toolbar[1],   m_toolbar[2],    m_toolbar[3],
                        m_toolbar[6],      m_toolbar[4],   m_toolbar[5],    m_list1,
                        m_txtTitle,        m_txtCreateFor, m_txtSubject,    m_txtKeywords,
                        m_txtCreationDate, m_command1,     m_txtModifyDate, m_command2,
                        m_txtPath,         m_cmdBrowse,    m_command3};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(m_list1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { List1_Click(); });
    resize(860, 540);
}

// "Create PDF Now" and the toolbar, and the output folder: a folder chosen while a run is under
// way would not be the one it writes to, and a dialog opened then would hold the run up.
void frmPrinting::setRequestsEnabled(bool enabled) {
    m_command3->setEnabled(enabled);
    for (QPushButton* button : m_toolbar) {
        button->setEnabled(enabled);
    }
    m_cmdBrowse->setEnabled(enabled);
    m_txtPath->setReadOnly(!enabled);
}

void frmPrinting::Form_Load() {
    platform::ReplaceSharedDialogs(this);
    DocumentInfo info;
    LoadDocumentInfo(settingsPath(), info);
    m_txtTitle->setText(info.title);
    m_txtCreateFor->setText(info.author);
    m_txtSubject->setText(info.subject);
    m_txtKeywords->setText(info.keywords);
    m_txtCreationDate->setText(info.creationDate);
    m_txtModifyDate->setText(info.modifyDate);
    updateDropPanel();
}

DocumentInfo frmPrinting::documentInfo() const {
    DocumentInfo info;
    info.title = m_txtTitle->text();
    info.author = m_txtCreateFor->text();
    info.subject = m_txtSubject->text();
    info.keywords = m_txtKeywords->text();
    info.creationDate = m_txtCreationDate->text();
    info.modifyDate = m_txtModifyDate->text();
    return info;
}

int frmPrinting::listIndex() const {
    const QModelIndex current = m_list1->currentIndex();
    return current.isValid() && m_list1->selectionModel()->isSelected(current) ? current.row() : -1;
}

void frmPrinting::select(int row) {
    if (row < 0 || row >= m_list.count()) {
        m_list1->selectionModel()->clearSelection();
        m_list1->setCurrentIndex({});
    } else {
        m_list1->setCurrentIndex(m_list.index(row));
    }
    List1_Click();
}

void frmPrinting::CmdToolsBar_Click(int index) {
    switch (index) {
    case 0:
        addImage();
        break;
    case 1:
        AddImageFolder();
        break;
    case 2:
        removeSelected();
        break;
    case 3:
        m_list.clear();
        select(-1);
        updateDropPanel();
        break;
    case 4:
        moveSelected(true);
        break;
    case 5:
        close();
        break;
    case 6:
        moveSelected(false);
        break;
    default:
        break;
    }
}

void frmPrinting::addImage() {
    platform::CCommonDialogs& dialogs = platform::SharedDialogs();
    dialogs.setFilter(ImageFilter);
    dialogs.setTitle(tr("Open Files"));
    const bool chosen = dialogs.ShowOpen();
    repaint();
    afterDialogRefresh();
    if (chosen) {
        m_list.add(dialogs.FileName());
        dialogs.setFileName({});
        updateDropPanel();
    }
}

void frmPrinting::AddImageFolder() {
    platform::CCommonDialogs& dialogs = platform::SharedDialogs();
    dialogs.setTitle(tr("Please select a folder:"));
    const bool chosen = dialogs.ShowFolder();
    m_picText->show();
    m_lblText->setText(tr("Searching Files..."));
    const QString folder = chosen ? platform::StripTrailingNulls(dialogs.Path()) : QString();
    if (!folder.isEmpty()) {
        // A large tree takes a while: the search runs beside the window's events, the buttons
        // that would start other work wait for it.
        m_searching = true;
        setRequestsEnabled(false);
        const QStringList found =
            platform::RunBesideEvents([this, folder] { return m_services.findImages(folder); });
        m_list.addAll(found);
        setRequestsEnabled(true);
        m_searching = false;
    }
    m_lblText->setText(DropHint);
    updateDropPanel();
    repaint();
    afterDialogRefresh();
    if (m_closeAfterRun) {
        close();
    }
}

void frmPrinting::removeSelected() {
    if (m_list.isEmpty()) {
        return;
    }
    const int row = listIndex();
    if (row >= 0) {
        select(m_list.remove(row));
    }
    updateDropPanel();
}

void frmPrinting::moveSelected(bool down) {
    const int row = listIndex();
    // Nothing selected: nothing moves.
    if (row < 0) {
        return;
    }
    const int moved = down ? m_list.moveDown(row) : m_list.moveUp(row);
    if (moved != row) {
        select(moved);
    }
}

void frmPrinting::List1_Click() {
    const int row = listIndex();
    m_lblPageNum->setText(tr("Page Number of Selected File: %1").arg(row + 1));
    showPreview();
}

void frmPrinting::showPreview() {
    const int row = listIndex();
    if (row < 0) {
        m_previewPath.clear();
        m_picPreview->setPixmap({});
        m_picPreview->setText(tr("No image selected"));
        return;
    }
    const QString path = m_list.paths().value(row);
    if (path == m_previewPath || m_preview.isRunning()) {
        return; // the finished load looks again at what is selected then
    }
    m_previewPath = path;
    m_picPreview->setAccessibleDescription(QDir::toNativeSeparators(path));
    m_preview.setFuture(QtConcurrent::run(loadPreview, path));
}

void frmPrinting::cmdBrowse_Click() {
    platform::CCommonDialogs& dialogs = platform::SharedDialogs();
    dialogs.setTitle(tr("Please select a folder:"));
    if (dialogs.ShowFolder()) {
        m_txtPath->setText(platform::StripTrailingNulls(dialogs.Path()));
    } else {
        m_txtPath->setText(platform::DefaultOutputFolder());
    }
    afterDialogRefresh();
}

void frmPrinting::Command1_Click() {
    m_txtCreationDate->setText(PdfDateNow());
}

void frmPrinting::Command2_Click() {
    m_txtModifyDate->setText(PdfDateNow());
}

void frmPrinting::Command3_Click() {
    if (isAssembling()) {
        return;
    }
    m_lastResult = m_assembly->Run(m_list.paths(), m_txtPath->text(), documentInfo());
    if (m_closeAfterRun) {
        close();
    }
}

void frmPrinting::List1_OLEDragDrop(const QMimeData* dropped) {
    if (!dropped || !dropped->hasUrls()) {
        return;
    }
    m_list.addDropped(dropped->urls());
    updateDropPanel();
}

void frmPrinting::afterDialogRefresh() {
    for (QPushButton* button : m_toolbar) {
        if (button->isEnabled()) {
            button->setFocus(Qt::OtherFocusReason);
        }
    }
}

void frmPrinting::updateDropPanel() {
    m_picText->setVisible(m_list.isEmpty());
    if (m_list.isEmpty()) {
        m_picText->raise();
    }
}

bool frmPrinting::eventFilter(QObject* watched, QEvent* event) {
    const bool dropTarget = watched == m_picText || watched == m_list1->viewport();
    if (dropTarget && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
        auto* drag = static_cast<QDropEvent*>(event);
        if (drag->mimeData()->hasUrls()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
            return true;
        }
    } else if (dropTarget && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        List1_OLEDragDrop(drop->mimeData());
        return true;
    } else if (watched == m_list1 && event->type() == QEvent::KeyPress && !isAssembling()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            removeSelected();
            return true;
        }
        if (key->modifiers() == Qt::ControlModifier &&
            (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            moveSelected(key->key() == Qt::Key_Down);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmPrinting::closeEvent(QCloseEvent* event) {
    // A run or a folder search in progress finishes first (the run's work folders and result
    // stay consistent); the window closes when it is over.
    if (isAssembling() || m_searching) {
        m_closeAfterRun = true;
        event->ignore();
        return;
    }
    event->accept();
    if (!m_unloaded) {
        m_unloaded = true;
        emit launcherRequested();
    }
}

} // namespace images2pdf
