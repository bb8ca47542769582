// Figures of the application server, run by hand:
//   appserver_bench [--invoices N] [--keep DIR] [--server EXE]
// Starts fis-appserver on a fresh SQLite database with N demo invoices (default 1,000,000) and
// prints: SetDtVenc round trip against a bare HTTP echo, light calls per second with 16
// clients, a filtered listing of one company and month, and an "EF" emission of 1,000 invoices.
#include "guiaservice.h"

#include "data/packet.h"
#include "net/netconnection.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace fis;

namespace {

Variant call(TNetConnection &net, const QString &method, QList<Variant> &vars)
{
    QList<Variant *> ptrs;
    for (Variant &v : vars)
        ptrs.append(&v);
    return net.call(method, ptrs);
}

std::unique_ptr<TNetConnection> client(int port)
{
    auto net = std::make_unique<TNetConnection>();
    net->setHost(QStringLiteral("127.0.0.1"));
    net->setPort(port);
    net->setServerName(QString::fromLatin1(kServerObject));
    net->setTimeout(600000);
    return net;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QList<Variant> listingArgs(const QString &op, const QDate &start, const QDate &end,
                           const QString &branches, const QString &entries, double total,
                           const QDate &due)
{
    const auto date = [](const QDate &d) {
        return makeDate(d.isValid() ? TDateTime::fromDate(d) : TDateTime());
    };
    return {op,
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
            branches,
            entries,
            QStringLiteral("S"),
            QString(),
            QString(),
            total,
            date(due),
            makePacket(DataPacket()),
            QStringLiteral("0001"),
            makePacket(DataPacket()),
            QStringLiteral("bench"),
            QString(),
            QString(),
            QString()};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int invoices = 1000000;
    QString keep;
    QString exe = QStringLiteral(FIS_APPSERVER_EXE);
    for (int i = 1; i + 1 < argc; i += 2) {
        if (qstrcmp(argv[i], "--invoices") == 0)
            invoices = QByteArray(argv[i + 1]).toInt();
        else if (qstrcmp(argv[i], "--keep") == 0)
            keep = QString::fromLocal8Bit(argv[i + 1]);
        else if (qstrcmp(argv[i], "--server") == 0)
            exe = QString::fromLocal8Bit(argv[i + 1]); // e.g. an older build, to compare
    }
    QTemporaryDir tmp;
    const QString dbPath = (keep.isEmpty() ? tmp.path() : keep) + QStringLiteral("/bench.db");

    QProcess server;
    server.setProgram(exe);
    server.setArguments({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                         QStringLiteral("--database"), dbPath, QStringLiteral("--demo-data"),
                         QString::number(invoices)});
    server.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    server.start();
    QByteArray out;
    int port = 0;
    static const QRegularExpression re(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    while (port == 0 && server.state() != QProcess::NotRunning) {
        server.waitForReadyRead(1000);
        out += server.readAllStandardOutput();
        const auto m = re.match(QString::fromUtf8(out));
        if (m.hasMatch())
            port = m.captured(1).toInt();
    }
    if (port == 0) {
        std::fprintf(stderr, "o servidor não subiu\n");
        return 1;
    }
    std::printf("demo data, %d invoices: %.1f s (start included)\n", invoices,
                t.elapsed() / 1000.0);

    // 1. Bare echo (cpp-httplib, keep-alive, TCP_NODELAY) against SetDtVenc.
    httplib::Server echo;
    echo.set_tcp_nodelay(true);
    echo.Post("/echo", [](const httplib::Request &req, httplib::Response &res) {
        res.set_content(req.body, "application/cbor");
    });
    const int echoPort = echo.bind_to_any_port("127.0.0.1");
    std::thread echoThread([&] { echo.listen_after_bind(); });
    httplib::Client bare("127.0.0.1", echoPort);
    bare.set_tcp_nodelay(true);
    bare.set_keep_alive(true);
    const std::string body(200, 'x');
    constexpr int kRounds = 2000;
    std::vector<double> echoUs, setUs, lightUs;
    // Echo, SetDtVenc and a light call take turns, so that a busy machine weighs on all three.
    const auto echoOnce = [&] {
        QElapsedTimer e;
        e.start();
        bare.Post("/echo", body, "application/cbor");
        echoUs.push_back(e.nsecsElapsed() / 1000.0);
    };
    for (int i = 0; i < 50; ++i)
        echoOnce(); // warm-up
    echoUs.clear();
    auto net = client(port);
    QString entry;
    {
        QList<Variant> a = listingArgs(QStringLiteral("E"), {}, {}, {}, {}, 0, {});
        a[5] = QStringLiteral("1"); // invoice number 1 of every branch
        const PacketReader r(call(*net, QStringLiteral("GetEmisGuiaPrev"), a).value<DataPacket>());
        entry = r.row(0).at(r.fieldIndex(QStringLiteral("NRLANCTONF"))).toString();
        const QString branch = r.row(0).at(r.fieldIndex(QStringLiteral("CDFILIAL"))).toString();
        for (int i = 0; i < kRounds; ++i) {
            QList<Variant> s{branch,
                             entry,
                             QStringLiteral("%1/07/2030").arg(10 + i % 10, 2, 10, QLatin1Char('0')),
                             QStringLiteral("2631"),
                             double(i % 7),
                             0.0};
            echoOnce();
            QElapsedTimer e;
            e.start();
            call(*net, QStringLiteral("SetDtVenc"), s);
            setUs.push_back(e.nsecsElapsed() / 1000.0);
            if (net->lastCallFailed()) {
                std::fprintf(stderr, "SetDtVenc: %s\n", qPrintable(net->lastError()));
                return 1;
            }
            QList<Variant> none;
            e.start();
            call(*net, QStringLiteral("GetParamFiscal"), none);
            lightUs.push_back(e.nsecsElapsed() / 1000.0);
        }
    }
    echo.stop();
    echoThread.join();
    std::printf("GetParamFiscal round trip (the RPC path alone, nearly): median %.1f us\n",
                median(lightUs));
    std::printf(
        "SetDtVenc round trip: median %.1f us, bare echo %.1f us, ratio %.2f (target <= 2)\n",
        median(setUs), median(echoUs), median(setUs) / median(echoUs));

    // 2. Light calls per second, 16 clients.
    {
        std::atomic<long> calls = 0;
        std::atomic<bool> stop = false;
        std::vector<std::thread> threads;
        for (int c = 0; c < 16; ++c) {
            threads.emplace_back([&] {
                auto n = client(port);
                QList<Variant> none;
                while (!stop) {
                    call(*n, QStringLiteral("GetParamFiscal"), none);
                    ++calls;
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
        stop = true;
        for (auto &th : threads)
            th.join();
        std::printf("16 clients, GetParamFiscal: %.0f calls/s (target >= 10000 on 2 cores)\n",
                    calls / 3.0);
    }

    // 3. Listing: one company, one month, entries; then narrowed to one branch.
    const QDate month =
        QDate(QDate::currentDate().year(), QDate::currentDate().month(), 1).addMonths(-1);
    QString supplierCnpj;
    {
        QList<Variant> a =
            listingArgs(QStringLiteral("E"), month, month.addMonths(1).addDays(-1), {}, {}, 0, {});
        const PacketReader r(call(*net, QStringLiteral("GetEmisGuiaPrev"), a).value<DataPacket>());
        supplierCnpj = r.row(0).at(r.fieldIndex(QStringLiteral("NRINSJURNF"))).toString();
    }
    for (const char *branch : {"", "0001", "supplier"}) {
        std::vector<double> ms;
        int rows = 0;
        for (int i = 0; i < 7; ++i) {
            QList<Variant> a = listingArgs(QStringLiteral("E"), month,
                                           month.addMonths(1).addDays(-1), {}, {}, 0, {});
            if (qstrcmp(branch, "supplier") == 0)
                a[8] = supplierCnpj;
            else
                a[6] = QString::fromLatin1(branch);
            QElapsedTimer e;
            e.start();
            const Variant r = call(*net, QStringLiteral("GetEmisGuiaPrev"), a);
            ms.push_back(e.nsecsElapsed() / 1e6);
            rows = PacketReader(r.value<DataPacket>()).rowCount();
        }
        std::printf("listing company 01, %s, entries%s: %d rows, median %.1f ms (target <= 50)\n",
                    qPrintable(month.toString(u"MM/yyyy")),
                    *branch ? qPrintable(QStringLiteral(", ") + QLatin1String(branch)) : "", rows,
                    median(ms));
    }

    // 4. "EF" emission of 1,000 pending entry invoices (payables grouped by supplier).
    {
        QList<Variant> a = listingArgs(QStringLiteral("E"), month.addMonths(-1),
                                       month.addMonths(1).addDays(-1), {}, {}, 0, {});
        a[9] = QStringLiteral("P");
        const PacketReader r(call(*net, QStringLiteral("GetEmisGuiaPrev"), a).value<DataPacket>());
        const int fb = r.fieldIndex(QStringLiteral("CDFILIAL"));
        const int fl = r.fieldIndex(QStringLiteral("NRLANCTONF"));
        QString branches = QStringLiteral("_"), entries = QStringLiteral("_");
        const int take = std::min(1000, r.rowCount());
        for (int i = 0; i < take; ++i) {
            branches += r.row(i).at(fb).toString() + u'_';
            entries += r.row(i).at(fl).toString() + u'_';
        }
        QList<Variant> ef = listingArgs(QStringLiteral("EF"), month, month.addMonths(1).addDays(-1),
                                        branches, entries, 0, QDate::currentDate().addDays(30));
        QElapsedTimer e;
        e.start();
        const QVariantList res = call(*net, QStringLiteral("GetEmisGuiaPrev"), ef).toList();
        const double ms = e.nsecsElapsed() / 1e6;
        QString outcome = net->lastError();
        if (res.size() == 3) {
            const PacketReader rr(res[0].value<DataPacket>());
            outcome = rr.row(0).at(0).toString() + QStringLiteral(": ") +
                      rr.row(0).at(1).toString().left(80);
        }
        std::printf("EF emission of %d invoices: %.0f ms (target <= 1000) -> %s\n", take, ms,
                    qPrintable(outcome));
    }
    server.terminate();
    server.waitForFinished(10000);
    return 0;
}
