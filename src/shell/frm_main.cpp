#include "frm_main.h"

#include "skin.h"

#include "platform/app_folders.h"
#include "platform/common_dialogs.h"
#include "platform/conventions.h"
#include "platform/processes.h"
#include "platform/prompts.h"
#include "platform/work_folders.h"
#include "print2pdf/document_printer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStyle>
#include <QVBoxLayout>

namespace shell {
namespace {

// How long the shutdown waits for a print program still handing a document over.
constexpr int HandOverLimitMs = 30000;

const QString PrintFilter =
    QStringLiteral("Word Files(*.doc)|*.doc|Excel Files(*.xls)|*.xls|PowerPoint Files(*.ppt)|"
                   "*.ppt|TEXT Files(*.txt)|*.txt|All Printable Files(*.*)|*.*");

/// The banner across the top of the launcher: drawn, not a bitmap, so that it follows the
/// skin's accent and stays sharp on any screen.
class Banner : public QWidget {
public:
    explicit Banner(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("Picture1"));
        setFixedHeight(92);
        setAccessibleDescription(tr("Convert PDF files, and create PDF files"));
        // Not "Lumadoc" alone: the window and its first button already carry that name.
        setAccessibleName(tr("Lumadoc banner"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor accent = SkinH_AccentColor();
        QLinearGradient band(0, 0, width(), height());
        band.setColorAt(0, accent.darker(135));
        band.setColorAt(1, QColor::fromHsv((accent.hsvHue() + 28) % 360, accent.hsvSaturation(),
                                           accent.value()));
        p.fillRect(rect(), band);
        if (const int shade = SkinH_Shade()) {
            p.fillRect(0, height() - 2, width(), 2, QColor(0, 0, 0, shade));
        }

        // A page with a turned corner.
        const QRectF page(22, 16, 46, 60);
        QPainterPath sheet;
        sheet.moveTo(page.topLeft());
        sheet.lineTo(page.right() - 14, page.top());
        sheet.lineTo(page.right(), page.top() + 14);
        sheet.lineTo(page.bottomRight());
        sheet.lineTo(page.bottomLeft());
        sheet.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 235));
        p.drawPath(sheet);
        p.setBrush(accent.lighter(160));
        QPainterPath corner;
        corner.moveTo(page.right() - 14, page.top());
        corner.lineTo(page.right() - 14, page.top() + 14);
        corner.lineTo(page.right(), page.top() + 14);
        corner.closeSubpath();
        p.drawPath(corner);
        QFont tag = font();
        tag.setBold(true);
        tag.setPixelSize(13);
        p.setFont(tag);
        p.setPen(accent.darker(130));
        p.drawText(page.adjusted(0, 24, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                   QStringLiteral("PDF"));

        QFont title = font();
        title.setBold(true);
        title.setPixelSize(30);
        p.setFont(title);
        p.setPen(Qt::white);
        p.drawText(QRect(88, 14, width() - 100, 40), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Lumadoc"));
        QFont subtitle = font();
        subtitle.setPixelSize(14);
        p.setFont(subtitle);
        p.setPen(QColor(255, 255, 255, 225));
        p.drawText(QRect(90, 54, width() - 100, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   accessibleDescription());
    }
};

// A photo: the image-to-PDF program.
void drawPhoto(QPainter& p, const QColor& accent, const QColor& text) {
    p.setPen(QPen(text, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(6, 12, 52, 40), 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    QPainterPath hills;
    hills.moveTo(10, 48);
    hills.lineTo(26, 28);
    hills.lineTo(36, 40);
    hills.lineTo(43, 32);
    hills.lineTo(54, 48);
    hills.closeSubpath();
    p.drawPath(hills);
    p.drawEllipse(QPointF(44, 22), 4.5, 4.5);
}

// A printer with a page coming out: printing a document to PDF.
void drawPrinter(QPainter& p, const QColor& accent, const QColor& text) {
    p.setPen(QPen(text, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(18, 6, 28, 16));
    p.drawRoundedRect(QRectF(6, 22, 52, 24), 4, 4);
    p.setBrush(accent);
    p.setPen(QPen(accent.darker(120), 2));
    p.drawRect(QRectF(18, 36, 28, 22));
    p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(23, 44), QPointF(41, 44));
    p.drawLine(QPointF(23, 51), QPointF(35, 51));
}

} // namespace

QUrl ProductPage() {
    return QUrl::fromLocalFile(
        platform::Conventions::host().join(platform::AppFolder(), QStringLiteral("help")) +
        QStringLiteral("/index.html"));
}

frmMain::frmMain(QWidget* parent) : frmMain(Services{}, parent) {}

frmMain::frmMain(Services services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)) {
    if (!m_services.openUrl) {
        m_services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    }
    if (!m_services.processes) {
        m_services.processes = &platform::Processes::system();
    }
    if (!m_services.printer) {
        m_ownPrinter = std::make_unique<print2pdf::DocumentPrinter>();
        m_services.printer = m_ownPrinter.get();
    }
    // The skin comes first, so that the controls are made, and their pictures drawn, in it.
    Form_Load();
    buildControls();
}

frmMain::~frmMain() {
    // A converter window still open goes with the launcher.
    delete m_converter;
}

QPushButton* frmMain::addButton(QGroupBox* frame, const char* name, const QString& caption,
                                const QString& hint, void (frmMain::*handler)()) {
    auto* button = new QPushButton(caption, frame);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setAccessibleDescription(hint);
    // Enter presses the focused button, as Space does (a window, unlike a dialog, has no
    // default button that would take Enter instead).
    button->setAutoDefault(true);
    button->setMinimumHeight(34);
    // Queued: a dialog that the click opens must not hold up whoever pressed the button
    // (a screen reader waits for its press to be answered).
    connect(button, &QPushButton::clicked, this, handler, Qt::QueuedConnection);
    frame->layout()->addWidget(button);
    return button;
}

void frmMain::buildControls() {
    setObjectName(QStringLiteral("frmMain"));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->setSizeConstraint(QLayout::SetFixedSize);
    root->addWidget(new Banner(this));

    auto* body = new QGridLayout;
    body->setContentsMargins(16, 10, 16, 10);
    body->setHorizontalSpacing(14);
    body->setVerticalSpacing(8);
    root->addLayout(body);

    auto* frame1 = new QGroupBox(tr("Create PDF"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setMinimumWidth(236);
    auto* create = new QVBoxLayout(frame1);
    create->setSpacing(8);
    QPushButton* command3 = addButton(
        frame1, "Command3", tr("Lumadoc"),
        tr("Make one PDF from scanned pages or photos (starts lumaimg)"), &frmMain::Command3_Click);
    QPushButton* command1 =
        addButton(frame1, "Command1", tr("Create PDF From File"),
                  tr("Print a document to the PDF printer \"vxPDF\""), &frmMain::Command1_Click);
    for (QPushButton* big : {command3, command1}) {
        big->setMinimumHeight(58);
        big->setIconSize(QSize(28, 28));
    }
    m_command3 = command3;
    m_command1 = command1;
    drawIcons();
    create->addStretch(1);

    auto* frame2 = new QGroupBox(tr("Convert PDF"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setMinimumWidth(236);
    auto* convertButtons = new QVBoxLayout(frame2);
    convertButtons->setSpacing(6);
    addButton(frame2, "Command4", tr("PDF To TXT Converter"),
              tr("Convert PDF files to plain text (.txt)"), &frmMain::Command4_Click);
    addButton(frame2, "Command5", tr("PDF To Word Converter"),
              tr("Convert PDF files to Word documents (.doc)"), &frmMain::Command5_Click);
    addButton(frame2, "Command6", tr("PDF To Images Converter"),
              tr("Convert PDF pages to pictures (JPEG, BMP, GIF, PNG, TIF)"),
              &frmMain::Command6_Click);
    addButton(frame2, "Command7", tr("PDF To HTML Converter"),
              tr("Convert PDF files to web pages (.html)"), &frmMain::Command7_Click);
    addButton(frame2, "Command8", tr("PDF To Flash Converter"),
              tr("Convert PDF files to Flash movies (.swf)"), &frmMain::Command8_Click);

    body->addWidget(frame1, 0, 0);
    body->addWidget(frame2, 0, 1);

    // The product page link: a flat button, so that keyboards and screen readers reach it.
    auto* label1 = new QPushButton(tr("Lumadoc help and product page"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setProperty("skinRole", QStringLiteral("link"));
    label1->setFlat(true);
    label1->setCursor(Qt::PointingHandCursor);
    label1->setAutoDefault(true);
    label1->setToolTip(ProductPage().toLocalFile());
    label1->setAccessibleDescription(tr("Opens the help page in the web browser"));
    connect(label1, &QPushButton::clicked, this, &frmMain::Label1_Click, Qt::QueuedConnection);
    body->addWidget(label1, 1, 0, 1, 2, Qt::AlignRight);

    // Tab order: the groups as they read, then the link.
    setTabOrder(command3, command1);
    QWidget* previous = command1;
    for (const char* name : {"Command4", "Command5", "Command6", "Command7", "Command8"}) {
        QWidget* next = findChild<QPushButton*>(QString::fromLatin1(name));
        setTabOrder(previous, next);
        previous = next;
    }
    setTabOrder(previous, label1);
    command3->setFocus();
}

void frmMain::Form_Load() {
    // A second instance has already ended before this window was made (see main).
    SkinH_Attach();
    SkinH_Aero(this);
    SkinH_Aero_Adjust(220, 0, 0, 0, 0, 0, 0, 0, 0);
    platform::ReplaceSharedDialogs(this);
    setWindowTitle(platform::applicationTitle());
}

void frmMain::drawIcons() {
    m_command3->setIcon(SkinDrawnIcon(drawPhoto));
    m_command1->setIcon(SkinDrawnIcon(drawPrinter));
}

void frmMain::changeEvent(QEvent* event) {
    // The desktop switched between light and dark: the pictures follow the new colours.
    if (event->type() == QEvent::PaletteChange && m_command3) {
        drawIcons();
    }
    QWidget::changeEvent(event);
}

bool frmMain::acceptsInput() const {
    return !m_busy && !m_closing && !QApplication::activeModalWidget();
}

void frmMain::showConverter(convert::OutputFormat format) {
    if (!acceptsInput()) {
        return;
    }
    // The converter's load handles events: a second click must not make a second window.
    const QScopedValueRollback<bool> busy(m_busy, true);
    hide();
    if (!m_converter) {
        m_converter = new convert::frmConverter(m_services.converter);
        m_converter->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_converter, &convert::frmConverter::launcherRequested, this, [this] {
            if (m_closing) {
                return;
            }
            show();
            raise();
            activateWindow();
        });
    }
    m_converter->show();
    m_converter->raise();
    m_converter->activateWindow();
    // Chosen after the window has loaded and shows, so that the button's format wins over the
    // one "setup.ini" gave; the list reports the change as a user's choice.
    if (auto* list = m_converter->findChild<QComboBox*>(QStringLiteral("cmbOF"))) {
        list->setCurrentIndex(convert::indexOf(format));
    }
}

void frmMain::Command1_Click() {
    if (!acceptsInput()) {
        return;
    }
    const QScopedValueRollback<bool> busy(m_busy, true);
    QDir().mkpath(platform::WorkFolders::tmp());
    platform::CCommonDialogs& dialogs = platform::SharedDialogs();
    dialogs.setFilter(PrintFilter);
    dialogs.setTitle(tr("Create PDF from File"));
    if (!dialogs.ShowOpen()) {
        return;
    }
    const QString chosen = dialogs.FileName();
    dialogs.setFileName(QString());
    m_services.printer->PrintDocumentUsingShellExecute(print2pdf::PdfPrinter, chosen);
}

void frmMain::Command3_Click() {
    if (!acceptsInput()) {
        return;
    }
    const platform::Conventions conv = platform::Conventions::host();
    // A missing program is no error here: nothing starts.
    m_services.processes->startDetached(
        conv.join(platform::AppFolder(), conv.exe(QStringLiteral("lumaimg"))),
        platform::StartWindow::MinimizedFocused);
}

void frmMain::Label1_Click() {
    if (acceptsInput()) {
        m_services.openUrl(ProductPage());
    }
}

void frmMain::bringToFront() {
    if (m_closing) {
        return;
    }
    QWidget* front = isVisible() || !m_converter ? static_cast<QWidget*>(this) : m_converter.data();
    if (front->isMinimized()) {
        front->showNormal();
    }
    front->show();
    front->raise();
    front->activateWindow();
}

void frmMain::Form_Unload() {
    if (m_closing) {
        return;
    }
    m_closing = true;
    // The window that an export shows when it finishes must not outlive the application.
    m_services.processes->endProgram(platform::Conventions::host().join(
        platform::AppFolder(), platform::Conventions::host().exe(QStringLiteral("pro"))));
    // A document still being handed to the printer is finished first, so that the print is
    // not lost and the previous default printer comes back; a print program that hangs does
    // not hold the application up for ever.
    hide();
    if (!m_services.printer->waitForHandOver(HandOverLimitMs)) {
        m_services.printer->giveDefaultBackNow();
    }
    SkinH_Detach();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->isVisible()) {
            window->close();
        }
    }
    // A converter in the middle of a run closes after the file in hand; the application ends
    // with it.
    if (m_converter && m_converter->isVisible()) {
        connect(m_converter, &QObject::destroyed, qApp, &QCoreApplication::quit);
        return;
    }
    QCoreApplication::quit();
}

void frmMain::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

} // namespace shell
