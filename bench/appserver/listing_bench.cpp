// The invoice listing, three tiers against two, run by hand:
//   fis_listing_bench [--invoices N] [--keep DIR] [--postgres URL | --no-postgres]
//                     [--runs R] [--sizes 1000,10000,100000]
// On one demo database (SQLite, then PostgreSQL) and for listings of company 01's exits of about
// each size, times from the request until the grid's first paint has completed (offscreen):
//   three tiers: GetEmisGuiaPrev through TNetConnection -> setData into a set with the screen's
//                fields -> DBGrid with the screen's columns and its draw handler -> first paint;
//   two tiers:   the same SQL through QSqlQueryModel, fetchMore to the end -> QTableView ->
//                first paint.
// The contenders alternate within each size; it prints best and median of each and the ratio of
// the medians, then the memory of the largest listing loaded into the set. Without --postgres a
// throw-away PostgreSQL 15 cluster is started and filled (minutes for a million invoices).
#include "guiaservice.h"
#include "listingquery.h"
#include "support/pgcluster.h"

#include "data/datalink.h"
#include "data/dataset.h"
#include "data/packet.h"
#include "net/netconnection.h"
#include "widgets/dbgrid.h"

#include <QApplication>
#include <QBitmap>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLocale>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace fis;

namespace {

// ---- the server and its database ------------------------------------------------------------

class Server
{
public:
    ~Server()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    bool start(const QString &exe, const QString &database, int invoices)
    {
        m_process.setProgram(exe);
        m_process.setArguments({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                QStringLiteral("--database"), database,
                                QStringLiteral("--demo-data"), QString::number(invoices)});
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start();
        QByteArray out;
        static const QRegularExpression re(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        while (m_port == 0 && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(1000);
            out += m_process.readAllStandardOutput();
            const auto m = re.match(QString::fromUtf8(out));
            if (m.hasMatch())
                m_port = m.captured(1).toInt();
        }
        return m_port != 0;
    }
    int port() const { return m_port; }

private:
    QProcess m_process;
    int m_port = 0;
};

QSqlDatabase openDirect(const DbConfig &config, const QString &name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(
        config.kind == DbKind::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), name);
    if (config.kind == DbKind::Sqlite) {
        db.setDatabaseName(config.path);
    } else {
        db.setHostName(config.host);
        db.setPort(config.port);
        db.setUserName(config.user);
        db.setPassword(config.password);
        db.setDatabaseName(config.name);
    }
    db.open();
    return db;
}

// The last emission date of the first `rows` exits of company 01 (the listing from the first
// day to it holds about that many rows).
QDate exitsUpTo(QSqlDatabase &db, int rows, QDate *first)
{
    QSqlQuery q(db);
    q.exec(QStringLiteral("SELECT MIN(DTEMISSAO) FROM NOTAFISCAL WHERE CDEMPRESA = '01' AND "
                          "IDENTRSAIDOP = 'S'"));
    q.next();
    *first = QDate::fromString(q.value(0).toString().left(10), Qt::ISODate);
    q.prepare(QStringLiteral("SELECT DTEMISSAO FROM NOTAFISCAL WHERE CDEMPRESA = '01' AND "
                             "IDENTRSAIDOP = 'S' ORDER BY DTEMISSAO LIMIT 1 OFFSET ?"));
    q.addBindValue(rows - 1);
    if (!q.exec() || !q.next())
        return {};
    return QDate::fromString(q.value(0).toString().left(10), Qt::ISODate);
}

// ---- the screen's set and grid --------------------------------------------------------------

const QString kMoney = QStringLiteral("#,##0.00");

void addScreenFields(ClientDataSet &set)
{
    set.addFields({
        FieldDef::string("CDFILIAL", 4).setVisible(false),
        FieldDef::string("CDFILIRECE", 4).setReadOnly(true).setVisible(false),
        FieldDef::dateTime("DTEMISSAO").setReadOnly(true).setVisible(false),
        FieldDef::dateTime("DTENTRSAID").setReadOnly(true).setVisible(false),
        FieldDef::string("CDCLIENTE", 21).setVisible(false),
        FieldDef::string("NRINSJURNF", 20).setLabel("Inscrição").setReadOnly(true),
        FieldDef::string("NMRAZSOCCLIE", 50).setLabel("Razão Social").setReadOnly(true),
        FieldDef::string("NMRAZSOCFORN", 77).setLabel("Razão Social").setReadOnly(true),
        FieldDef::string("NRLANCTONF", 10).setVisible(false),
        FieldDef::string("NRNOTAFISC", 20).setLabel("Nº NF").setReadOnly(true),
        FieldDef::string("CDSERIE", 5).setVisible(false),
        FieldDef::string("IDENTRSAIDOP", 1).setVisible(false),
        FieldDef::string("CDFILIEMIT", 4).setReadOnly(true).setVisible(false),
        FieldDef::floating("VRMULTAGUIA").setFormat(kMoney).setVisible(false),
        FieldDef::floating("VROUTRENTGUIA").setFormat(kMoney).setVisible(false),
        FieldDef::string("CDRECEGUIA", 5).setVisible(false),
        FieldDef::floating("VRNOTAFISC").setLabel("Valor NF:").setFormat(kMoney).setReadOnly(true),
        FieldDef::fixed("IDCHECK", 1).setVisible(false),
        FieldDef::dateTime("VENCIMENTO").setLabel("Vencimento").setVisible(false),
        FieldDef::floating("VRTOTIMPONF").setFormat(kMoney).setReadOnly(true).setVisible(false),
        FieldDef::string("IDSTATUSGUIA", 1).setVisible(false),
    });
}

QPixmap picture(const QColor &color)
{
    QPixmap p(13, 13);
    p.fill(QColor(128, 128, 0)); // olive: the transparent colour of the screen's pictures
    QPainter painter(&p);
    painter.fillRect(2, 2, 9, 9, color);
    return p;
}

// The exits grid as the screen sets it up, with a draw handler that does what the screen's
// does: pictures for the tick and the status, the customer's or supplier's name painted.
void setUpGrid(DBGrid &grid, ClientDataSet &set)
{
    struct Col
    {
        const char *field;
        const char *title;
        int width;
        bool visible;
    };
    static const Col cols[] = {
        {"IDCHECK", "4", 21, true},
        {"CDFILIAL", "Filial", 0, false},
        {"IDENTRSAIDOP", "Operação", 0, true},
        {"DTEMISSAO", "Emissão", 0, false},
        {"NRINSJURNF", nullptr, 100, true},
        {"DTENTRSAID", "Dt.Entrada", 85, true},
        {"NMRAZSOCCLIE", "Razão Social", 0, false},
        {"NMRAZSOCFORN", nullptr, 315, true},
        {"NRNOTAFISC", nullptr, 0, false},
        {"CDSERIE", "Série", 0, false},
        {"VRNOTAFISC", "Valor", 0, false},
        {"VRTOTIMPONF", "Vr. Imposto", 80, true},
        {"VRMULTAGUIA", "Vr. Multa", 0, true},
        {"VROUTRENTGUIA", "Vr. Outras Entidades", 105, true},
        {"VENCIMENTO", nullptr, 89, true},
        {"CDRECEGUIA", "Cód. Receita", 0, true},
        {"IDSTATUSGUIA", "Status", 61, true},
    };
    for (const Col &c : cols) {
        GridColumn *col = grid.addColumn(QString::fromLatin1(c.field));
        if (c.title)
            col->setTitleCaption(QString::fromUtf8(c.title));
        if (c.width)
            col->setWidth(c.width);
        col->setVisible(c.visible);
    }
    const Field *tick = set.findField(QStringLiteral("IDCHECK"));
    const Field *status = set.findField(QStringLiteral("IDSTATUSGUIA"));
    const Field *op = set.findField(QStringLiteral("IDENTRSAIDOP"));
    const Field *customer = set.findField(QStringLiteral("NMRAZSOCCLIE"));
    const Field *supplier = set.findField(QStringLiteral("NMRAZSOCFORN"));
    // The pictures with their olive made transparent, once (as the screen keeps them).
    static const auto masked = [](const QPixmap &p) {
        QPixmap copy(p);
        copy.setMask(copy.createMaskFromColor(QColor(128, 128, 0)));
        return copy;
    };
    static const QPixmap check = masked(picture(Qt::black)), uncheck = masked(picture(Qt::white)),
                         approved = masked(picture(Qt::green));
    grid.onDrawColumnCell = [=, &set](QPainter &painter, const QRect &rect, GridColumn *column,
                                      const GridDrawState &state) {
        if (!column || state.row < 0 || state.row >= set.recordCount())
            return;
        const QString field = column->fieldName();
        const auto paintPicture = [&](const QPixmap *p) {
            painter.fillRect(rect, state.background);
            if (p)
                painter.drawPixmap(rect.left() + 4, rect.top(), *p);
        };
        if (field == QLatin1String("IDCHECK")) {
            const QString v = tick->valueAt(state.row).toString();
            paintPicture(v == QLatin1String("C")   ? &check
                         : v == QLatin1String("U") ? &uncheck
                                                   : nullptr);
        } else if (field == QLatin1String("IDSTATUSGUIA")) {
            if (status->valueAt(state.row).toString() == QLatin1String("S"))
                paintPicture(&approved);
        } else if (field == QLatin1String("NMRAZSOCCLIE")) {
            const bool entry = op->valueAt(state.row).toString() == QLatin1String("E");
            painter.fillRect(rect, state.background);
            painter.setPen(state.textColor);
            painter.drawText(rect.adjusted(3, 3, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                             (entry ? supplier : customer)->valueAt(state.row).toString());
        }
    };
}

class PaintedView : public QTableView
{
public:
    std::function<void()> painted;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QTableView::paintEvent(event);
        if (painted)
            std::exchange(painted, nullptr)();
    }
};

// Shows `window` and waits for its first paint (signalled through `hook`).
void showAndWait(QWidget *window, const std::function<void(std::function<void()>)> &hook)
{
    QEventLoop loop;
    hook([&] { loop.quit(); });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    window->show();
    loop.exec();
}

// ---- the contenders -------------------------------------------------------------------------

Variant listingCall(TNetConnection &net, const QDate &start, const QDate &end)
{
    const auto date = [](const QDate &d) { return makeDate(TDateTime::fromDate(d)); };
    QList<Variant> a{QStringLiteral("S"),
                     QStringLiteral("01"),
                     QString(),
                     QString(),
                     QString(),
                     QString(),
                     QString(),
                     QStringLiteral("01"),
                     QString(),
                     QStringLiteral("T"),
                     date(start),
                     date(end),
                     date(QDate::currentDate()),
                     QString(),
                     QString(),
                     QStringLiteral("S"),
                     QString(),
                     QString(),
                     0.0,
                     makeDate(TDateTime()),
                     makePacket(DataPacket()),
                     QStringLiteral("0001"),
                     makePacket(DataPacket()),
                     QStringLiteral("bench"),
                     QString(),
                     QString(),
                     QString()};
    QList<Variant *> ptrs;
    for (Variant &v : a)
        ptrs.append(&v);
    return net.call(QStringLiteral("GetEmisGuiaPrev"), ptrs);
}

// Where the time went. Three tiers: the call (server, transfer, answer decoded), setData, the
// grid built with its columns and linked, shown until its first paint. Two tiers: the query
// fetched to the end, the view until its first paint.
struct Phases
{
    std::vector<double> call, load, build, paint;
    std::vector<double> query, view;
};

// Milliseconds from the call until the grid has painted; *rows gets the set's row count.
double threeTiers(TNetConnection &net, const QDate &start, const QDate &end, int *rows,
                  Phases *phases = nullptr)
{
    QElapsedTimer t;
    t.start();
    ClientDataSet set(QStringLiteral("cdsAprov"));
    addScreenFields(set);
    {
        const DataPacket packet = listingCall(net, start, end).value<DataPacket>();
        const double called = t.nsecsElapsed() / 1e6;
        set.setData(packet);
        if (phases) {
            phases->call.push_back(called);
            phases->load.push_back(t.nsecsElapsed() / 1e6 - called);
        }
    }
    const double loaded = t.nsecsElapsed() / 1e6;
    DataLink link;
    link.setDataSet(&set);
    DBGrid grid;
    grid.resize(1200, 800);
    setUpGrid(grid, set);
    grid.setDataLink(&link);
    const double built = t.nsecsElapsed() / 1e6;
    showAndWait(&grid, [&](std::function<void()> done) {
        QObject::connect(&grid, &DBGrid::firstPaintDone, &grid, done);
    });
    *rows = set.recordCount();
    if (phases) {
        phases->build.push_back(built - loaded);
        phases->paint.push_back(t.nsecsElapsed() / 1e6 - built);
    }
    return t.nsecsElapsed() / 1e6;
}

double twoTiers(QSqlDatabase &db, const service::ListingQuery &query, int *rows,
                Phases *phases = nullptr)
{
    QElapsedTimer t;
    t.start();
    QSqlQuery q(db);
    q.prepare(query.sql);
    for (int i = 0; i < query.binds.size(); ++i)
        q.bindValue(i, query.binds.at(i));
    if (!q.exec())
        std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text()));
    QSqlQueryModel model;
    model.setQuery(std::move(q));
    while (model.canFetchMore())
        model.fetchMore();
    const double fetched = t.nsecsElapsed() / 1e6;
    PaintedView view;
    view.resize(1200, 800);
    view.setModel(&model);
    showAndWait(&view, [&](std::function<void()> done) { view.painted = done; });
    *rows = model.rowCount();
    if (phases) {
        phases->query.push_back(fetched);
        phases->view.push_back(t.nsecsElapsed() / 1e6 - fetched);
    }
    return t.nsecsElapsed() / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double procKiB(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toDouble();
    return 0;
}

// Resident memory while loading the listing into the set (peak) and once loaded, against the
// packet's size. The peak counts everything from the request on: answer, packet and set.
void measureMemory(TNetConnection &net, const QDate &start, const QDate &end)
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    const bool resettable = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    clear.close();
    const double before = procKiB("VmRSS:");
    ClientDataSet set(QStringLiteral("cdsAprov"));
    addScreenFields(set);
    // The answer arrives decoded and the set shares it: its size is measured afterwards.
    const DataPacket packet = listingCall(net, start, end).value<DataPacket>();
    set.setData(packet);
    const double peak = procKiB("VmHWM:");
    malloc_trim(0);
    const double loaded = procKiB("VmRSS:");
    const qsizetype packetBytes = packet.encoded().size();
    const double mib = packetBytes / 1048576.0;
    std::printf("  memory, %d rows: packet %.1f MiB, loaded set %.1f MiB (%.2fx), peak while "
                "loading %s%.1f MiB (%.2fx)\n",
                set.recordCount(), mib, (loaded - before) / 1024, (loaded - before) / 1024 / mib,
                resettable ? "" : "(since start) ", (peak - before) / 1024,
                (peak - before) / 1024 / mib);
}

void runAll(const char *label, const DbConfig &config, const QString &url, const QString &exe,
            int invoices, int runs, const QList<int> &sizes)
{
    QElapsedTimer t;
    t.start();
    Server server;
    if (!server.start(exe, url, invoices)) {
        std::fprintf(stderr, "%s: o servidor não subiu\n", label);
        return;
    }
    std::printf("%s, %d invoices: server up in %.1f s\n", label, invoices, t.elapsed() / 1000.0);
    QSqlDatabase db = openDirect(config, QString::fromLatin1(label));
    if (!db.isOpen()) {
        std::fprintf(stderr, "%s: %s\n", label, qPrintable(db.lastError().text()));
        return;
    }
    TNetConnection net;
    net.setHost(QStringLiteral("127.0.0.1"));
    net.setPort(server.port());
    net.setServerName(QString::fromLatin1(kServerObject));
    net.setTimeout(600000);

    QDate start, lastEnd;
    for (int size : sizes) {
        const QDate end = exitsUpTo(db, size, &start);
        if (!end.isValid()) {
            std::printf("  fewer than %d exits of company 01: skipped\n", size);
            continue;
        }
        lastEnd = end;
        service::ListingCriteria c;
        c.op = QStringLiteral("S");
        c.company = QStringLiteral("01");
        c.imposto = QStringLiteral("01");
        c.status = QStringLiteral("T");
        c.start = start;
        c.end = end;
        const service::ListingQuery query = service::listingQuery(c);
        int rows3 = 0, rows2 = 0;
        threeTiers(net, start, end, &rows3); // warm-up: statements prepared, pages cached
        twoTiers(db, query, &rows2);
        std::vector<double> three, two;
        Phases phases;
        for (int i = 0; i < runs; ++i) {
            // Alternate which goes first, so that neither always finds the caches warmed.
            if (i % 2 == 0) {
                three.push_back(threeTiers(net, start, end, &rows3, &phases));
                two.push_back(twoTiers(db, query, &rows2, &phases));
            } else {
                two.push_back(twoTiers(db, query, &rows2, &phases));
                three.push_back(threeTiers(net, start, end, &rows3, &phases));
            }
        }
        std::printf("  %7d rows%s: three tiers best %8.1f median %8.1f ms | two tiers best %8.1f "
                    "median %8.1f ms | ratio %.2f\n",
                    rows3, rows3 == rows2 ? "" : " (row counts differ!)",
                    *std::min_element(three.begin(), three.end()), median(three),
                    *std::min_element(two.begin(), two.end()), median(two),
                    median(three) / median(two));
        std::printf("           three tiers, medians: call %.1f ms, setData %.1f ms, grid built "
                    "%.1f ms, shown until painted %.1f ms\n",
                    median(phases.call), median(phases.load), median(phases.build),
                    median(phases.paint));
        std::printf("           two tiers, medians: query to the end %.1f ms, view until painted "
                    "%.1f ms\n",
                    median(phases.query), median(phases.view));
        std::fflush(stdout);
    }
    if (lastEnd.isValid())
        measureMemory(net, start, lastEnd);
    db.close();
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(f.readAll()).section(u' ', 0, 2);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    int invoices = 1000000, runs = 7;
    QString keep, postgres, exe = QStringLiteral(FIS_APPSERVER_EXE);
    bool withPostgres = true, withSqlite = true;
    QList<int> sizes{1000, 10000, 100000};
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        const QString next = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (a == "--no-postgres" || a == "--no-sqlite") {
            (a == "--no-postgres" ? withPostgres : withSqlite) = false;
            continue;
        }
        ++i;
        if (a == "--invoices")
            invoices = next.toInt();
        else if (a == "--runs")
            runs = std::max(1, next.toInt());
        else if (a == "--keep")
            keep = next;
        else if (a == "--postgres")
            postgres = next;
        else if (a == "--server")
            exe = next;
        else if (a == "--sizes") {
            sizes.clear();
            for (const QString &s : next.split(u','))
                sizes.append(s.toInt());
        } else {
            std::fprintf(stderr, "argumento desconhecido: %s\n", a.constData());
            return 2;
        }
    }
    std::printf("load average at start: %s\n", qPrintable(loadAverage()));

    QTemporaryDir tmp;
    const QString dbPath = (keep.isEmpty() ? tmp.path() : keep) + QStringLiteral("/listing.db");
    DbConfig sqlite;
    sqlite.path = dbPath;
    if (withSqlite)
        runAll("SQLite", sqlite, dbPath, exe, invoices, runs, sizes);

    if (withPostgres) {
        test::PgCluster cluster;
        if (postgres.isEmpty()) {
            if (!cluster.start() || !cluster.createDatabase(QStringLiteral("listing"))) {
                std::fprintf(stderr, "PostgreSQL: %s\n", qPrintable(cluster.error()));
                return 1;
            }
            postgres = cluster.url(QStringLiteral("listing"));
        }
        DbConfig pg;
        QString error;
        if (!DbConfig::parse(postgres, &pg, &error)) {
            std::fprintf(stderr, "PostgreSQL: %s\n", qPrintable(error));
            return 1;
        }
        runAll("PostgreSQL", pg, postgres, exe, invoices, runs, sizes);
    }
    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}
