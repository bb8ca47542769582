#include "framework/manutencao.h"

#include "data/abort.h"
#include "data/datalink.h"
#include "data/dataset.h"
#include "framework/defaulthostui.h"
#include "widgets/dbgrid.h"
#include "widgets/errorguard.h"
#include "widgets/hostui.h"
#include "widgets/maskedit.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

QWidget *frmManutIntegra = nullptr;

namespace fis {

DataPacket showIntegrationDialog(const DataPacket &packet, QWidget *parent)
{
    if (packet.isNull())
        return {};

    // Decoded before anything is shown: a corrupt packet raises and nothing opens.
    ClientDataSet set(QStringLiteral("cdsManutIntegra"));
    set.setData(packet);
    // The window corrects the entries the server made; it neither adds nor removes any.
    set.beforeInsert = [](ClientDataSet &) { throw EAbort{}; };
    set.beforeDelete = [](ClientDataSet &) { throw EAbort{}; };
    DataLink link(QStringLiteral("dtsManutIntegra"));
    link.setDataSet(&set);

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("frmManutIntegra"));
    dialog.setWindowTitle(QStringLiteral("Manutenção da Integração Contábil"));
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(
        QStringLiteral("Corrija os lançamentos da integração contábil e confirme."), &dialog));
    auto *grid = new DBGrid(&dialog);
    grid->setObjectName(QStringLiteral("dbgManutIntegra"));
    grid->setDataLink(&link);
    grid->setReadOnly(false);
    grid->setOption(GridOption::Editing, true);
    if (grid->columnCount() == 0)
        for (Field *field : set.fields())
            if (field->visible())
                grid->addColumn(field->fieldName());
    layout->addWidget(grid, 1);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    layout->addWidget(buttons);

    // OK posts the row being edited first; a value the set refuses keeps the window open with
    // the message, so nothing typed is lost.
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (guarded([&] { set.checkBrowseMode(); }))
            dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, [&] {
        guarded([&] {
            if (set.state() == DataSetState::Edit || set.state() == DataSetState::Insert)
                set.cancel();
        });
        dialog.reject();
    });

    dialog.resize(720, 420);
    frmManutIntegra = &dialog;
    const int result = dialog.exec();
    frmManutIntegra = nullptr;
    grid->setDataLink(nullptr);
    if (result != QDialog::Accepted)
        return {};
    return set.data();
}

namespace {

const bool hookInstalled = [] {
    DefaultHostUi::hooks().integration = [](const DataPacket &packet, QWidget *parent) {
        return showIntegrationDialog(packet, parent);
    };
    return true;
}();

} // namespace

} // namespace fis

fis::DataPacket CriaManutencao(const fis::DataPacket &packet, QWidget *parent)
{
    if (packet.isNull())
        return {};
    return fis::HostUi::instance()->integration(packet, parent);
}
