#include "widgets/hostui.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>

namespace fis {

namespace {

// The host's stand-in until the framework installs its own: real message boxes; the modal
// windows it does not know yet answer "nothing chosen".
class DefaultHostUi final : public HostUi
{
public:
    bool message(MessageKind kind, const QString &text, QWidget *parent) override
    {
        // Without a widget application (a console tool) there is no window to show.
        if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
            qWarning().noquote() << text;
            return false;
        }
        const QString title = QApplication::applicationDisplayName();
        switch (kind) {
        case MessageKind::Information:
            QMessageBox::information(parent, title, text);
            return true;
        case MessageKind::Warning:
            QMessageBox::warning(parent, title, text);
            return true;
        case MessageKind::Error:
            QMessageBox::critical(parent, title, text);
            return true;
        case MessageKind::Confirmation:
            return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::No) == QMessageBox::Yes;
        }
        return false;
    }
    bool pick(DataLink *, const QString &, QWidget *) override { return false; }
    bool find(ClientDataSet *, QWidget *) override { return false; }
    DataPacket integration(const DataPacket &, QWidget *) override { return {}; }
};

DefaultHostUi &defaultUi()
{
    static DefaultHostUi ui;
    return ui;
}

HostUi *installed = nullptr;

} // namespace

HostUi *HostUi::instance()
{
    return installed ? installed : &defaultUi();
}

HostUi *HostUi::install(HostUi *ui)
{
    HostUi *previous = instance();
    installed = ui;
    return previous;
}

} // namespace fis
