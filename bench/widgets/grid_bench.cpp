// Grid first paint over a large set: the time from show() until the first paint of the cells has
// completed, for the data grid over 100,000 rows x 20 fields and for a bare QTableView over a
// model with the same shape that formats its values on the fly (the baseline).
//
// Run: QT_QPA_PLATFORM=offscreen build/bin/fis_widgets_bench [rows] [repetitions]
#include "data/datalink.h"
#include "data/dataset.h"
#include "data/packet.h"
#include "widgets/dbgrid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kColumns = 20;

fis::DataPacket buildPacket(int rows)
{
    fis::PacketWriter writer;
    for (int c = 0; c < kColumns; ++c) {
        const QString name = QStringLiteral("F%1").arg(c, 2, 10, QLatin1Char('0'));
        switch (c % 4) {
        case 0:
        case 1:
            writer.addField(name, fis::FieldType::String, 30);
            break;
        case 2:
            writer.addField(name, fis::FieldType::Float);
            break;
        default:
            writer.addField(name, fis::FieldType::DateTime);
            break;
        }
    }
    const double day = fis::TDateTime::fromDate(QDate(2024, 1, 1)).value;
    for (int r = 0; r < rows; ++r) {
        QVariantList values;
        values.reserve(kColumns);
        for (int c = 0; c < kColumns; ++c) {
            switch (c % 4) {
            case 0:
            case 1:
                values << QStringLiteral("Texto %1-%2").arg(r).arg(c);
                break;
            case 2:
                values << double(r) * 1.25 + c;
                break;
            default:
                values << fis::makeDate(fis::TDateTime(day + r % 365));
                break;
            }
        }
        writer.addRow(values);
    }
    return writer.finish();
}

// The bare baseline: same shape, values made up as they are asked for.
class BareModel : public QAbstractTableModel
{
public:
    explicit BareModel(int rows) : rows_(rows) {}
    int rowCount(const QModelIndex & = {}) const override { return rows_; }
    int columnCount(const QModelIndex & = {}) const override { return kColumns; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column() % 4) {
        case 2:
            return QLocale().toString(index.row() * 1.25 + index.column(), 'f', 2);
        case 3:
            return QDate(2024, 1, 1).addDays(index.row() % 365).toString(u"dd/MM/yyyy");
        default:
            return QStringLiteral("Texto %1-%2").arg(index.row()).arg(index.column());
        }
    }

private:
    int rows_;
};

class BareView : public QTableView
{
public:
    std::function<void()> painted;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QTableView::paintEvent(event);
        if (painted) {
            auto f = std::move(painted);
            painted = nullptr;
            f();
        }
    }
};

double waitForPaint(QWidget *window, const std::function<void(std::function<void()>)> &hook)
{
    QEventLoop loop;
    QElapsedTimer timer;
    double ms = -1;
    hook([&] {
        ms = timer.nsecsElapsed() / 1e6;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    timer.start();
    window->show();
    loop.exec();
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    const int repetitions = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 5;

    QElapsedTimer build;
    build.start();
    const fis::DataPacket packet = buildPacket(rows);
    fis::ClientDataSet set(QStringLiteral("cdsBench"));
    set.setData(packet);
    std::printf("set of %d rows x %d fields loaded in %.1f ms\n", set.recordCount(), kColumns,
                build.nsecsElapsed() / 1e6);

    std::vector<double> grid, gridLink, bare;
    for (int i = 0; i < repetitions; ++i) {
        {
            fis::DataLink link;
            link.setDataSet(&set);
            fis::DBGrid g;
            g.resize(1200, 800);
            for (const fis::Field *f : set.fields())
                g.addColumn(f->fieldName());
            QElapsedTimer attach;
            attach.start();
            g.setDataLink(&link);
            gridLink.push_back(attach.nsecsElapsed() / 1e6);
            grid.push_back(waitForPaint(&g, [&](std::function<void()> done) {
                QObject::connect(&g, &fis::DBGrid::firstPaintDone, &g, done);
            }));
        }
        {
            BareModel model(rows);
            BareView v;
            v.resize(1200, 800);
            v.setModel(&model);
            bare.push_back(waitForPaint(&v, [&](std::function<void()> done) { v.painted = done; }));
        }
    }
    const double g = median(grid), b = median(bare);
    std::printf("grid: attach to the set %.2f ms (median of %d)\n", median(gridLink), repetitions);
    std::printf("grid: show -> first paint done %.2f ms (median of %d)\n", g, repetitions);
    std::printf("bare QTableView: show -> first paint done %.2f ms\n", b);
    std::printf("ratio grid / bare: %.2f\n", b > 0 ? g / b : 0.0);
    return 0;
}
