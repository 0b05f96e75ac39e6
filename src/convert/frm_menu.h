#pragma once

#include <QWidget>

class QMenu;
class QAction;

namespace convert {

class frmConverter;

/// The hidden menu form of the converter window. Its only shown menu is the Remove pop-up
/// (`menuRemove`: "Remove Selected", "Remove All"); the File, Options, Tools and About menus
/// exist with entries that do nothing.
class frmMenu : public QWidget {
    Q_OBJECT
public:
    explicit frmMenu(frmConverter* converter);

    QMenu* menuRemove() const { return m_menuRemove; }
    /// The menus that are never popped up, in order: File, Options, Tools, About.
    QList<QMenu*> inertMenus() const { return m_inert; }

private:
    frmConverter* m_converter;
    QMenu* m_menuRemove = nullptr;
    QList<QMenu*> m_inert;
};

} // namespace convert
