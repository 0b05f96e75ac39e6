#pragma once

#include <QWidget>

namespace shell {

/// The launcher window, the hub of the application: closing it ends the application.
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace shell
