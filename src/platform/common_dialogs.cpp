#include "common_dialogs.h"

#include "app_folders.h"
#include "dialog_backend.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace platform {
namespace {

const QString kEveryFile = QStringLiteral("*.*|*.*");

QString upToNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

// "*.*" is every file where names always have an extension; here a name need not have a dot.
QString globsOf(const QString& pattern) {
    QStringList globs;
    for (const QString& piece : pattern.split(QLatin1Char(';'))) {
        const QString glob = piece.trimmed();
        if (glob.isEmpty()) {
            continue;
        }
        globs.append(glob == QLatin1String("*.*") ? QStringLiteral("*") : glob);
    }
    return globs.join(QLatin1Char(' '));
}

QString suffixOf(QString extension) {
    while (extension.startsWith(QLatin1Char('.'))) {
        extension.remove(0, 1);
    }
    return extension;
}

QString& rememberedFolder() {
    static QString folder;
    return folder;
}

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString withoutTrailingSeparator(QString folder) {
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) {
        folder.chop(1);
    }
    return folder;
}

QString absoluteIn(const QString& path, const QString& folder) {
    return QDir::isAbsolutePath(path) ? path : QDir(folder).absoluteFilePath(path);
}

FileDialogRequest fileRequest(const QString& title, const QString& startFolder,
                              const QString& filter) {
    FileDialogRequest request;
    request.title = title;
    request.startFolder = startFolder;
    request.nameFilters = NameFiltersFromPipeList(filter);
    if (!request.nameFilters.isEmpty()) {
        request.selectedFilter = request.nameFilters.first();
    }
    return request;
}

std::unique_ptr<CCommonDialogs>& sharedInstance() {
    static std::unique_ptr<CCommonDialogs> instance;
    return instance;
}

} // namespace

QStringList NameFiltersFromPipeList(const QString& pipeList) {
    const QStringList pieces = pipeList.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        const QString globs = globsOf(pieces[i + 1]);
        if (globs.isEmpty()) {
            continue;
        }
        const QString label = pieces[i].trimmed().isEmpty() ? pieces[i + 1].trimmed() : pieces[i];
        filters.append(label + QStringLiteral(" (") + globs + QLatin1Char(')'));
    }
    return filters;
}

QString OpenDialogFolder() {
    const QString& folder = rememberedFolder();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        return folder;
    }
    return QDir::currentPath();
}

void CCommonDialogs::Init(QWidget* ownerForm) {
    m_owner = ownerForm;
}

QString CCommonDialogs::FileTitle() const {
    return upToNul(m_fileTitle);
}

QString CCommonDialogs::Path() const {
    return upToNul(m_path);
}

QString CCommonDialogs::FileName() const {
    return upToNul(m_fileName);
}

QString CCommonDialogs::Title() const {
    return upToNul(m_title);
}

void CCommonDialogs::storeChosenFile(const QString& path, const QString& startFolder) {
    const QString chosen = absoluteIn(path, startFolder);
    m_fileName = chosen;
    m_fileTitle = QFileInfo(chosen).fileName();
    m_path = folderOf(chosen);
    rememberedFolder() = m_path;
}

bool CCommonDialogs::ShowOpen() {
    FileDialogRequest request = fileRequest(Title(), OpenDialogFolder(), m_filter);
    request.initialName = FileName();
    request.defaultSuffix = suffixOf(DefExt());
    request.mustExist = true;
    const std::optional<QString> chosen = DialogBackend::current().openFile(m_owner, request);
    if (!chosen || chosen->isEmpty()) {
        return false;
    }
    storeChosenFile(*chosen, request.startFolder);
    return true;
}

bool CCommonDialogs::ShowSave() {
    QString start = Path();
    if (start.isEmpty() || !QFileInfo(start).isDir()) {
        start = AppFolder();
    }
    FileDialogRequest request =
        fileRequest(QStringLiteral("Save"), start, m_filter.isEmpty() ? kEveryFile : m_filter);
    request.defaultSuffix = suffixOf(DefExt());
    request.mustExist = false;
    const std::optional<QString> chosen = DialogBackend::current().saveFile(m_owner, request);
    if (!chosen || chosen->isEmpty()) {
        return false;
    }
    storeChosenFile(*chosen, start);
    return true;
}

bool CCommonDialogs::ShowFolder() {
    const std::optional<QString> chosen =
        DialogBackend::current().folder(m_owner, Title(), QDir::homePath());
    if (!chosen || chosen->isEmpty()) {
        return false;
    }
    m_path = withoutTrailingSeparator(*chosen);
    m_fileName.clear();
    m_fileTitle.clear();
    return true;
}

bool CCommonDialogs::ShowColor(bool FullOpen) {
    const QColor initial(int(m_color & 0xFF), int((m_color >> 8) & 0xFF),
                         int((m_color >> 16) & 0xFF));
    const std::optional<QColor> chosen = DialogBackend::current().color(m_owner, initial, FullOpen);
    if (!chosen || !chosen->isValid()) {
        return false;
    }
    const QColor rgb = chosen->toRgb();
    m_color = quint32(rgb.red()) | quint32(rgb.green()) << 8 | quint32(rgb.blue()) << 16;
    return true;
}

bool CCommonDialogs::ShowFont() {
    QFont initial;
    if (!m_fontName.isEmpty()) {
        initial.setFamily(m_fontName);
    }
    if (m_fontSize > 0) {
        initial.setPointSize(m_fontSize);
    }
    initial.setBold(m_fontBold);
    initial.setItalic(m_fontItalic);
    initial.setUnderline(m_fontUnderline);
    const std::optional<QFont> chosen = DialogBackend::current().font(m_owner, initial);
    if (!chosen) {
        return false;
    }
    // A font given in pixels has no point size of its own; the matched font has one.
    const qreal points =
        chosen->pointSizeF() > 0 ? chosen->pointSizeF() : QFontInfo(*chosen).pointSizeF();
    m_fontName = upToNul(chosen->family());
    m_fontBold = chosen->weight() >= QFont::Bold;
    m_fontItalic = chosen->italic();
    m_fontSize = qint16(qBound<qreal>(0, points, 32767));
    return true;
}

bool CCommonDialogs::ShowPrinter() {
    return DialogBackend::current().printer(m_owner);
}

bool CCommonDialogs::ShowPrinterProperties() {
    return DialogBackend::current().printerProperties(m_owner);
}

CCommonDialogs& SharedDialogs() {
    std::unique_ptr<CCommonDialogs>& instance = sharedInstance();
    if (!instance) {
        instance = std::make_unique<CCommonDialogs>();
    }
    return *instance;
}

CCommonDialogs& ReplaceSharedDialogs(QWidget* owner) {
    auto fresh = std::make_unique<CCommonDialogs>();
    fresh->Init(owner);
    sharedInstance() = std::move(fresh);
    return *sharedInstance();
}

QString GetOpenFilePath(QWidget* owner, const QString& title, QString& startFolder,
                        const QString& filter, quint32 flags) {
    QString folder = startFolder;
    if (folder.trimmed().isEmpty()) {
        folder = AppFolder();
    } else {
        if (!folder.endsWith(QLatin1Char('/'))) {
            folder += QLatin1Char('/');
        }
        if (!QFileInfo(folder).isDir()) {
            folder = AppFolder();
        }
    }
    startFolder = folder;

    FileDialogRequest request = fileRequest(title, folder, filter.isEmpty() ? kEveryFile : filter);
    request.mustExist = (flags & OfnFileMustExist) != 0;
    const std::optional<QString> chosen = DialogBackend::current().openFile(owner, request);
    if (!chosen || chosen->isEmpty()) {
        return QString();
    }
    const QString path = absoluteIn(*chosen, folder);
    if ((flags & OfnNoChangeDir) == 0) {
        rememberedFolder() = folderOf(path);
    }
    return path;
}

} // namespace platform
