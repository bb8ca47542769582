#include "framework/defaulthostui.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace fis {

DefaultHostUi::Hooks &DefaultHostUi::hooks()
{
    static Hooks h;
    return h;
}

DefaultHostUi &DefaultHostUi::instance()
{
    static DefaultHostUi ui;
    return ui;
}

void DefaultHostUi::installAsDefault()
{
    HostUi::install(&instance());
}

QString DefaultHostUi::caption(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Information:
        return QStringLiteral("Informação");
    case MessageKind::Warning:
        return QStringLiteral("Atenção");
    case MessageKind::Error:
        return QStringLiteral("Erro");
    case MessageKind::Confirmation:
        return QStringLiteral("Confirmação");
    }
    return QString();
}

bool DefaultHostUi::message(MessageKind kind, const QString &text, QWidget *parent)
{
    QMessageBox box(parent ? parent : QApplication::activeWindow());
    box.setObjectName(QStringLiteral("msgBox"));
    box.setWindowTitle(caption(kind));
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    switch (kind) {
    case MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    }
    if (kind != MessageKind::Confirmation) {
        QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
        return true;
    }
    QPushButton *yes = box.addButton(QStringLiteral("Sim"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Não"), QMessageBox::NoRole);
    yes->setObjectName(QStringLiteral("btnSim"));
    no->setObjectName(QStringLiteral("btnNao"));
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

bool DefaultHostUi::pick(DataLink *link, const QString &title, QWidget *parent)
{
    return hooks().pick ? hooks().pick(link, title, parent) : false;
}

bool DefaultHostUi::find(ClientDataSet *dataSet, QWidget *parent)
{
    return hooks().find ? hooks().find(dataSet, parent) : false;
}

DataPacket DefaultHostUi::integration(const DataPacket &packet, QWidget *parent)
{
    return hooks().integration ? hooks().integration(packet, parent) : DataPacket();
}

} // namespace fis
