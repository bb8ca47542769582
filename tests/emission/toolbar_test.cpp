// The emission screen's toolbar: every action has a picture of its own and keeps its hint.
#include "emission/Cli_fis02900.h"
#include "testkit/recordinghostui.h"

#include <QImage>
#include <QToolButton>
#include <gtest/gtest.h>

TEST(EmissionToolbar, EachActionHasItsOwnIconAndItsHint)
{
    fis::RecordingHostUi ui;
    ui.install();
    {
        TfrmEmiPrevSocial screen;
        const QList<std::pair<QToolButton *, QString>> actions = {
            {screen.sbtPrint, "Imprimir"},
            {screen.sbtPreview, "Visualizar Impressão"},
            {screen.sbtSalvarComo, "Salvar Como"},
            {screen.sbtConfigImpress, "Configurar Impressora"},
            {screen.sbtFechar, "Fechar"},
            {screen.sbtProcurar, "Procurar"},
            {screen.sbtVerificar, "Atualizar"},
            {screen.sbtFiltro, "Filtrar"},
        };
        QList<QImage> pictures;
        for (const auto &[button, hint] : actions) {
            EXPECT_EQ(button->toolTip(), hint);
            const QImage picture =
                button->icon().pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32);
            EXPECT_FALSE(picture.isNull()) << qPrintable(hint);
            for (int other = 0; other < pictures.size(); ++other)
                EXPECT_NE(picture, pictures.at(other))
                    << qPrintable(hint) << " looks like " << qPrintable(actions.at(other).second);
            pictures << picture;
        }
    }
    ui.uninstall();
}
