// Grid drawing (which picture or text lands in a cell) and the rural-map grid's ticking and
// enabling, as far as the scripts cannot see them.
#include "data/packet.h"
#include "emission/Cli_fis02900.h"
#include "testkit/recordinghostui.h"

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <gtest/gtest.h>

#include <stdexcept>

using fis::FieldType;

namespace {

const QColor kBackground(0, 200, 0); // the cell background handed to the handlers
const QRect kCell(10, 5, 40, 24);

class Rendering : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ui.install();
        screen = new TfrmEmiPrevSocial;
        screen->setReportDir(QStringLiteral(FIS_REPORT_DIR));
        screen->loadReportNames();
    }
    void TearDown() override
    {
        delete screen;
        ui.uninstall();
    }
    void loadMaps(const QList<QVariantList> &rows)
    {
        screen->cbbReportNames->setCurrentIndex(2);
        screen->cdsFunRural->setData(fis::buildPacket(
            {{"IDCHECK", FieldType::FixedString, 1}, {"IDSTATUS", FieldType::String, 1}}, rows));
    }
    void loadExits(const QList<QVariantList> &rows)
    {
        screen->stOperacao = QStringLiteral("S");
        screen->cdsAprov->setData(fis::buildPacket({{"IDCHECK", FieldType::FixedString, 1},
                                                    {"IDSTATUSGUIA", FieldType::String, 1},
                                                    {"IDENTRSAIDOP", FieldType::String, 1},
                                                    {"NMRAZSOCCLIE", FieldType::String, 50},
                                                    {"NMRAZSOCFORN", FieldType::String, 77}},
                                                   rows));
    }
    // Draws one cell of a grid into an image prefilled with white (the "default drawing").
    QImage draw(fis::DBGrid *grid, int row, const char *field)
    {
        QImage image(64, 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setClipRect(kCell);
        fis::GridDrawState state;
        state.row = row;
        state.background = kBackground;
        state.textColor = Qt::black;
        fis::GridColumn *column = grid->findColumn(QString::fromLatin1(field));
        if (grid == screen->dbgFunRural)
            screen->dbgFunRuralDrawColumnCell(painter, kCell, column, state);
        else
            screen->dbgPadraoDrawColumnCell(painter, kCell, column, state);
        return image;
    }
    // The colour of a pixel of the picture drawn in the cell (picture coordinates).
    static QColor at(const QImage &image, int x, int y)
    {
        return image.pixelColor(kCell.left() + 4 + x, kCell.top() + y);
    }
    // What a plain text drawn 3 pixels in on the cell background looks like.
    QImage textCell(const QString &text)
    {
        QImage image(64, 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setClipRect(kCell);
        painter.setFont(screen->dbgPadrao->font());
        painter.fillRect(kCell, kBackground);
        painter.setPen(Qt::black);
        painter.drawText(kCell.adjusted(3, 3, 0, 0),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        return image;
    }
    bool outputOn() const
    {
        return screen->sbtPrint->isEnabled() && screen->sbtPreview->isEnabled() &&
               screen->sbtSalvarComo->isEnabled() && screen->mnuImprimir->isEnabled() &&
               screen->mnuVisualizar->isEnabled() && screen->mnuSalvarComo->isEnabled();
    }
    bool outputOff() const
    {
        return !screen->sbtPrint->isEnabled() && !screen->sbtPreview->isEnabled() &&
               !screen->sbtSalvarComo->isEnabled() && !screen->mnuImprimir->isEnabled() &&
               !screen->mnuVisualizar->isEnabled() && !screen->mnuSalvarComo->isEnabled();
    }
    QString tick(int row) const
    {
        return screen->cdsFunRural->fieldByName(QStringLiteral("IDCHECK"))
            ->valueAt(row)
            .toString()
            .trimmed();
    }

    fis::RecordingHostUi ui;
    TfrmEmiPrevSocial *screen = nullptr;
};

TEST_F(Rendering, PicturesHaveTheirSizesOnOlive)
{
    const QColor olive(128, 128, 0);
    const std::pair<QLabel *, int> pictures[] = {{screen->imgCheck, 16},
                                                 {screen->imgUncheck, 16},
                                                 {screen->imgAprovado, 20},
                                                 {screen->imgNAprovado, 18}};
    for (const auto &[label, size] : pictures) {
        const QImage image = label->pixmap().toImage();
        EXPECT_EQ(image.size(), QSize(size, size)) << label->objectName().toStdString();
        EXPECT_EQ(image.pixelColor(0, 0), olive) << label->objectName().toStdString();
        EXPECT_TRUE(label->isHidden());
    }
}

TEST_F(Rendering, MapCellsShowTickAndStatusPictures)
{
    loadMaps({{QStringLiteral("C"), QStringLiteral("S")},
              {QStringLiteral("U"), QStringLiteral("N")},
              {QStringLiteral("X"), QVariant()}});
    fis::DBGrid *grid = screen->dbgFunRural;

    // Ticked: the check mark's stroke; unticked: the empty box; other: blank background, and
    // the olive corner of the picture never shows.
    EXPECT_EQ(at(draw(grid, 0, "IDCHECK"), 7, 10), QColor(Qt::black));
    EXPECT_EQ(at(draw(grid, 1, "IDCHECK"), 7, 10), QColor(Qt::white));
    const QImage blank = draw(grid, 2, "IDCHECK");
    EXPECT_EQ(at(blank, 7, 10), kBackground);
    EXPECT_EQ(blank.pixelColor(kCell.center()), kBackground);
    EXPECT_EQ(at(draw(grid, 0, "IDCHECK"), 0, 0), kBackground);

    // Emitted: blue tick mark; not emitted, empty included: red cross.
    EXPECT_EQ(at(draw(grid, 0, "IDSTATUS"), 8, 15), QColor(0, 0, 255));
    EXPECT_EQ(at(draw(grid, 1, "IDSTATUS"), 8, 8), QColor(255, 0, 0));
    EXPECT_EQ(at(draw(grid, 2, "IDSTATUS"), 8, 8), QColor(255, 0, 0));

    // Other columns keep the default drawing; so does everything when no maps are loaded.
    EXPECT_EQ(draw(grid, 0, "NMMAPAAPUR").pixelColor(kCell.center()), QColor(Qt::white));
    loadMaps({});
    EXPECT_EQ(draw(grid, 0, "IDSTATUS").pixelColor(kCell.center()), QColor(Qt::white));
    screen->dbgFunRuralCellClick(grid->findColumn(QStringLiteral("IDCHECK")));
    EXPECT_EQ(screen->cdsFunRural->recordCount(), 0);
}

TEST_F(Rendering, ShownMapGridPaintsThePictures)
{
    screen->cbbReportNames->setCurrentIndex(2);
    screen->cbbReportNamesChange(); // the map grid is shown
    loadMaps(
        {{QStringLiteral("U"), QStringLiteral("S")}, {QStringLiteral("C"), QStringLiteral("N")}});
    screen->resize(900, 500);
    screen->show();
    fis::DBGrid *grid = screen->dbgFunRural;
    ASSERT_TRUE(grid->isVisible());
    const QImage image = grid->viewport()->grab().toImage();
    const auto cellAt = [&](int row, const char *field, int x, int y) {
        const QRect r = grid->visualRect(
            grid->model()->index(row, grid->columnIndexOf(QString::fromLatin1(field))));
        return image.pixelColor(r.left() + 4 + x, r.top() + y);
    };
    EXPECT_EQ(cellAt(1, "IDCHECK", 7, 10), QColor(Qt::black));
    EXPECT_EQ(cellAt(0, "IDCHECK", 7, 10), QColor(Qt::white));
    EXPECT_EQ(cellAt(0, "IDSTATUS", 8, 15), QColor(0, 0, 255));
    EXPECT_EQ(cellAt(1, "IDSTATUS", 8, 8), QColor(255, 0, 0));
}

TEST_F(Rendering, ExitDocumentsShowPicturesAndTheRightName)
{
    loadExits({{QVariant(), QStringLiteral("S"), QStringLiteral("E"), QStringLiteral("Cliente A"),
                QStringLiteral("Fornecedor A")},
               {QStringLiteral("C"), QStringLiteral("E"), QStringLiteral("S"),
                QStringLiteral("Cliente B"), QStringLiteral("Fornecedor B")},
               {QStringLiteral("U"), QVariant(), QVariant(), QStringLiteral("Cliente C"),
                QStringLiteral("Fornecedor C")}});
    fis::DBGrid *grid = screen->dbgPadrao;
    ASSERT_EQ(grid->dataSet(), screen->cdsAprov);

    EXPECT_EQ(at(draw(grid, 0, "IDCHECK"), 7, 10), kBackground); // empty tick: neither box
    EXPECT_EQ(at(draw(grid, 1, "IDCHECK"), 7, 10), QColor(Qt::black));
    EXPECT_EQ(at(draw(grid, 0, "IDSTATUSGUIA"), 8, 15), QColor(0, 0, 255));
    // Any other status keeps the grid's own text.
    EXPECT_EQ(draw(grid, 1, "IDSTATUSGUIA").pixelColor(kCell.center()), QColor(Qt::white));

    // Entry invoices show the supplier, all others the client.
    EXPECT_EQ(draw(grid, 0, "NMRAZSOCCLIE"), textCell(QStringLiteral("Fornecedor A")));
    EXPECT_EQ(draw(grid, 1, "NMRAZSOCCLIE"), textCell(QStringLiteral("Cliente B")));
    EXPECT_EQ(draw(grid, 2, "NMRAZSOCCLIE"), textCell(QStringLiteral("Cliente C")));
    EXPECT_NE(draw(grid, 2, "NMRAZSOCCLIE"), textCell(QStringLiteral("Fornecedor C")));

    // A row index past the set (a grid repainting after a reload) draws nothing.
    EXPECT_EQ(draw(grid, 7, "IDCHECK").pixelColor(kCell.center()), QColor(Qt::white));
}

TEST_F(Rendering, EntryDocumentsShowPicturesAndTheSupplier)
{
    screen->stOperacao = QStringLiteral("E");
    screen->cdsAprovAgrup->setData(fis::buildPacket(
        {{"IDCHECK", FieldType::FixedString, 1},
         {"IDSTATUSGUIA", FieldType::String, 1},
         {"NMRAZSOCFORN", FieldType::String, 77}},
        {{QStringLiteral("U"), QStringLiteral("S"), QStringLiteral("Fornecedor A")},
         {QStringLiteral("?"), QStringLiteral("E"), QStringLiteral("Fornecedor B")}}));
    fis::DBGrid *grid = screen->dbgPadrao;
    ASSERT_EQ(grid->dataSet(), screen->cdsAprovAgrup);
    EXPECT_EQ(at(draw(grid, 0, "IDCHECK"), 7, 10), QColor(Qt::white));
    EXPECT_EQ(at(draw(grid, 1, "IDCHECK"), 7, 10), kBackground); // neither "C" nor "U"
    EXPECT_EQ(at(draw(grid, 0, "IDSTATUSGUIA"), 8, 15), QColor(0, 0, 255));
    EXPECT_EQ(draw(grid, 1, "IDSTATUSGUIA").pixelColor(kCell.center()), QColor(Qt::white));
    EXPECT_EQ(draw(grid, 1, "NMRAZSOCFORN"), textCell(QStringLiteral("Fornecedor B")));

    // The exits rules do not leak into the entries view, nor the other way round.
    screen->stOperacao = QStringLiteral("S");
    EXPECT_EQ(draw(grid, 0, "IDSTATUSGUIA").pixelColor(kCell.center()), QColor(Qt::white));
}

TEST_F(Rendering, MapTicksDriveTheOutputActions)
{
    loadMaps({{QStringLiteral("U"), QStringLiteral("S")},
              {QStringLiteral("C"), QStringLiteral("N")},
              {QVariant(), QStringLiteral("N")}});
    fis::GridColumn *check = screen->dbgFunRural->findColumn(QStringLiteral("IDCHECK"));
    screen->dtsFunRuralStateChange();
    EXPECT_TRUE(screen->sbtProcurar->isEnabled() && screen->mnuProcurar->isEnabled());
    EXPECT_TRUE(screen->sbtConfigImpress->isEnabled() && screen->mnuConfigImpress->isEnabled());
    EXPECT_TRUE(outputOff());

    screen->dbgFunRuralCellClick(check);
    EXPECT_EQ(tick(0), QStringLiteral("C"));
    EXPECT_TRUE(outputOn());
    screen->cdsFunRural->setRecNo(3); // moving to an unticked map switches them off...
    EXPECT_TRUE(outputOff());
    screen->cdsFunRural->setRecNo(2); // ...and back on at a ticked one
    EXPECT_TRUE(outputOn());

    // Title: each row inverted on its own, back at the first (now unticked) row.
    screen->dbgFunRuralTitleClick(check);
    EXPECT_EQ(tick(0), QStringLiteral("U"));
    EXPECT_EQ(tick(1), QStringLiteral("U"));
    EXPECT_EQ(tick(2), QStringLiteral("C"));
    EXPECT_EQ(screen->cdsFunRural->recNo(), 1);
    EXPECT_TRUE(outputOff());

    // Another report: all six off whatever the maps say.
    screen->cdsFunRural->setRecNo(3);
    screen->cbbReportNames->setCurrentIndex(0);
    screen->dtsFunRuralStateChange();
    EXPECT_TRUE(outputOff());
    EXPECT_FALSE(screen->sbtVerificar->isEnabled() || screen->mnuAtualizar->isEnabled());
}

TEST_F(Rendering, FailedTickPostCancelsTheRowAndReachesTheCaller)
{
    loadMaps({{QStringLiteral("U"), QStringLiteral("S")}, {QStringLiteral("U"), QVariant()}});
    fis::GridColumn *check = screen->dbgFunRural->findColumn(QStringLiteral("IDCHECK"));
    screen->cdsFunRural->beforePost = [](fis::ClientDataSet &) {
        throw std::runtime_error("gravação recusada");
    };
    EXPECT_THROW(screen->dbgFunRuralCellClick(check), std::runtime_error);
    EXPECT_EQ(tick(0), QStringLiteral("U"));
    EXPECT_EQ(screen->cdsFunRural->state(), fis::DataSetState::Browse);

    // The title walk stops at the failing row, keeps it unchanged and lets the grid update again.
    EXPECT_THROW(screen->dbgFunRuralTitleClick(check), std::runtime_error);
    EXPECT_EQ(tick(0), QStringLiteral("U"));
    EXPECT_EQ(screen->cdsFunRural->state(), fis::DataSetState::Browse);
    EXPECT_FALSE(screen->cdsFunRural->controlsDisabled());
}

} // namespace
