#pragma once

#include "convert/frm_converter.h"
#include "convert/output_format.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class QGroupBox;
class QPushButton;

namespace print2pdf {
class DocumentPrinter;
}

namespace shell {

/// The launcher "Lumadoc", the application's first window and its hub: it opens the converter
/// with a chosen format, prints a document to the PDF printer, starts the image-to-PDF program
/// and opens the help page. The application lives as long as it does. Its controls carry the
/// names of the window's design as objectName.
class frmMain : public QWidget {
    Q_OBJECT
public:
    /// What the launcher does outside itself; tests replace each part.
    struct Services {
        std::function<bool(const QUrl&)> openUrl; ///< the help page; null: the desktop's
        platform::Processes* processes = nullptr; ///< starting lumaimg, ending "pro"; null: host
        print2pdf::DocumentPrinter* printer = nullptr; ///< null: one of the launcher's own
        convert::frmConverter::Services converter;     ///< given to each converter window
    };

    explicit frmMain(QWidget* parent = nullptr);
    explicit frmMain(Services services, QWidget* parent = nullptr);
    ~frmMain() override;

    /// The open converter window, or null.
    convert::frmConverter* converter() const { return m_converter; }
    print2pdf::DocumentPrinter& printer() { return *m_services.printer; }

    /// A second start of the program asked for this one: the launcher comes to the front, or
    /// the converter window when it stands in the launcher's place.
    void bringToFront();

public slots:
    void Command1_Click();
    void Command3_Click();
    void Command4_Click() { showConverter(convert::OutputFormat::Text); }
    void Command5_Click() { showConverter(convert::OutputFormat::Word); }
    void Command6_Click() { showConverter(convert::OutputFormat::Jpeg); }
    void Command7_Click() { showConverter(convert::OutputFormat::Html); }
    void Command8_Click() { showConverter(convert::OutputFormat::Flash); }
    void Label1_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    /// False while a modal dialog is up (a screen reader can still press buttons behind it),
    /// while a button's work is under way, and once the launcher is closing.
    bool acceptsInput() const;
    void drawIcons();
    void buildControls();
    void Form_Load();
    void Form_Unload();
    void showConverter(convert::OutputFormat format);
    QPushButton* addButton(QGroupBox* frame, const char* name, const QString& caption,
                           const QString& hint, void (frmMain::*handler)());

    Services m_services;
    std::unique_ptr<print2pdf::DocumentPrinter> m_ownPrinter;
    QPointer<convert::frmConverter> m_converter;
    QPushButton* m_command3 = nullptr;
    QPushButton* m_command1 = nullptr;
    bool m_busy = false;
    bool m_closing = false;
};

/// The launcher's product page: the help page shipped in the application folder, so that it
/// opens without a network.
QUrl ProductPage();

} // namespace shell
