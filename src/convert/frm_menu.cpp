#include "frm_menu.h"

#include "frm_converter.h"

#include <QMenu>

namespace convert {

frmMenu::frmMenu(frmConverter* converter) : QWidget(converter, Qt::Window), m_converter(converter) {
    setObjectName(QStringLiteral("frmMenu"));
    hide();

    m_menuRemove = new QMenu(tr("Remove"), this);
    m_menuRemove->setObjectName(QStringLiteral("menuRemove"));
    QAction* selected = m_menuRemove->addAction(tr("Remove Selected"));
    selected->setObjectName(QStringLiteral("menuRemoveSelected"));
    QAction* all = m_menuRemove->addAction(tr("Remove All"));
    all->setObjectName(QStringLiteral("menuRemoveAll"));
    connect(selected, &QAction::triggered, this,
            [this] { m_converter->sendCommand(QStringLiteral("RemoveSelected")); });
    connect(all, &QAction::triggered, m_converter, &frmConverter::menuRemoveAll_Click);

    auto inert = [this](const QString& title, const QStringList& entries) {
        auto* menu = new QMenu(title, this);
        for (const QString& entry : entries) {
            if (entry.isEmpty()) {
                menu->addSeparator();
            } else {
                menu->addAction(entry);
            }
        }
        m_inert.append(menu);
    };
    inert(tr("File"), {tr("Add a File(&A)"), tr("Add a Folder(&F)"), QString(), tr("Exit(&E)")});
    inert(tr("Options"), {tr("Settings(&O)")});
    inert(tr("Tools(&T)"), {tr("Convert(&C)")});
    inert(tr("About"), {tr("Help(&H)"), tr("About(&A)")});
}

} // namespace convert
