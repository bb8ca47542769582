// The server's front door under clients that are careless or hostile: bodies over the limit in
// any framing, requests that stop coming, idle and slow connections by the hundred, too many
// connections, pipelined and malformed requests, and the health check.
#include "net/netconnection.h"
#include "net/rpcwire.h"
#include "nettest.h"
#include "rawclient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <atomic>
#include <thread>
#include <vector>

using namespace fis;
using namespace fis::test;

namespace {

QByteArray echoRequest(const QString &text)
{
    return encodeRequest(RpcRequest{QStringLiteral("Echo"), {makeText(text)}, {}});
}

// The answer's error text, or "" when it is not a failure answer of ours.
QString errorOf(const RawAnswer &a)
{
    RpcResponse r;
    QString why;
    return decodeResponse(a.body, &r, &why) && !r.ok ? r.error : QString();
}

bool answersEcho(const RawAnswer &a, const QString &text)
{
    RpcResponse r;
    QString why;
    return a.status == 200 && decodeResponse(a.body, &r, &why) && r.ok &&
           r.result == makeText(text);
}

QByteArray chunked(const QByteArray &body, qsizetype piece)
{
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += piece) {
        const QByteArray part = body.mid(at, piece);
        out += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

} // namespace

TEST(ServerFront, BodiesAreLimitedWhateverTheirFraming)
{
    RpcServerOptions options;
    options.maxBodyBytes = 64 * 1024;
    auto server = startTestServer(options);

    // A declared length over the limit is refused at once, before any of the body.
    RawClient declared(server->port());
    ASSERT_TRUE(declared.send(callHead("Content-Length: 536870912\r\n")));
    const RawAnswer big = declared.answer(3000);
    EXPECT_EQ(big.status, 413);
    EXPECT_TRUE(errorOf(big).contains(QStringLiteral("grande demais")))
        << errorOf(big).toStdString();

    // A chunked body is refused as soon as it passes the limit: the client is told while it is
    // still sending (it may not even get to send the rest).
    RawClient flood(server->port());
    ASSERT_TRUE(flood.send(callHead("Transfer-Encoding: chunked\r\n")));
    const QByteArray piece = "1000\r\n" + QByteArray(4096, 'x') + "\r\n";
    for (int i = 0; i < 256 && flood.send(piece); ++i) {
    }
    const RawAnswer over = flood.answer(3000);
    EXPECT_EQ(over.status, 413);
    EXPECT_TRUE(over.head.contains("Connection: close"));

    // Within the limit, chunked bodies are read like any other.
    RawClient small(server->port());
    const QByteArray body = echoRequest(QStringLiteral("em blocos"));
    ASSERT_TRUE(small.send(callHead("Transfer-Encoding: chunked\r\n") + chunked(body, 7)));
    EXPECT_TRUE(answersEcho(small.answer(3000), QStringLiteral("em blocos")));

    // Both framings at once is how requests are smuggled: refused.
    RawClient both(server->port());
    ASSERT_TRUE(both.send(callHead("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n") +
                          chunked(body, 100)));
    EXPECT_EQ(both.answer(3000).status, 400);
}

TEST(ServerFront, RequestsThatStopComingAreDroppedWithinSeconds)
{
    RpcServerOptions options;
    options.readTimeoutSeconds = 1;
    options.requestTimeoutSeconds = 2;
    auto server = startTestServer(options);

    RawClient stalledBody(server->port());
    ASSERT_TRUE(stalledBody.send(callHead("Content-Length: 100\r\n") + QByteArray(10, 'x')));
    RawClient stalledHead(server->port());
    ASSERT_TRUE(stalledHead.send("POST /call/Fis02900.rdmEmisGuiaPrv HTTP/1.1\r\nHo"));
    // A trickle that never stops long enough for the read timeout: cut by the request's own.
    RawClient trickle(server->port());
    std::atomic<bool> done = false;
    std::thread dripper([&] {
        const QByteArray head = callHead("Content-Length: 100000\r\n");
        for (qsizetype i = 0; !done && i < head.size() + 100000; ++i) {
            if (!trickle.send(QByteArray(1, i < head.size() ? head[i] : 'x')))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });

    const RawAnswer body = stalledBody.answer(5000);
    EXPECT_EQ(body.status, 408);
    EXPECT_TRUE(stalledBody.closedWithin(3000));
    EXPECT_EQ(stalledHead.answer(5000).status, 408);
    EXPECT_TRUE(stalledHead.closedWithin(3000));
    EXPECT_TRUE(trickle.closedWithin(6000));
    done = true;
    dripper.join();

    // The server answers as before.
    RawClient after(server->port());
    ASSERT_TRUE(after.send(callWithBody(echoRequest(QStringLiteral("ainda aqui")))));
    EXPECT_TRUE(answersEcho(after.answer(3000), QStringLiteral("ainda aqui")));
}

// Voluntary context switches of every thread of this process so far.
long wakeUps()
{
    long total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(24).trimmed().toLong();
    }
    return total;
}

// Idle worker threads sleep: one of them wakes a few times a second to look for connections
// past their time (each waking on its own made dozens of threads wake together, and the calls
// being served waited for the processor meanwhile). Timeouts are still kept.
TEST(ServerFront, IdleWorkersSleepAndTimeoutsAreStillKept)
{
    RpcServerOptions options;
    options.threads = 32;
    options.readTimeoutSeconds = 1;
    auto server = startTestServer(options);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = wakeUps();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long woke = wakeUps() - before;
    EXPECT_LT(woke, 40) << "32 idle threads woke " << woke << " times in a second";

    RawClient stalled(server->port());
    ASSERT_TRUE(stalled.send(callHead("Content-Length: 100\r\n") + QByteArray(10, 'x')));
    EXPECT_EQ(stalled.answer(4000).status, 408);
}

TEST(ServerFront, AClerkIsAnsweredWhileAHundredConnectionsHangAround)
{
    RpcServerOptions options;
    options.threads = 4;
    auto server = startTestServer(options);
    const int port = server->port();

    // 40 idle persistent connections (each made one call), 30 silent ones, 30 slow bodies.
    std::vector<std::unique_ptr<RawClient>> idle, silent, slow;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<RawClient>(port));
        ASSERT_TRUE(idle.back()->send(callWithBody(echoRequest(QStringLiteral("oi")))));
        ASSERT_TRUE(answersEcho(idle.back()->answer(5000), QStringLiteral("oi")));
    }
    for (int i = 0; i < 30; ++i) {
        silent.push_back(std::make_unique<RawClient>(port));
        slow.push_back(std::make_unique<RawClient>(port));
        ASSERT_TRUE(slow.back()->send(callHead("Content-Length: 1000\r\n")));
    }
    std::atomic<bool> done = false;
    std::thread dripper([&] {
        while (!done) {
            for (auto &c : slow)
                c->send("x");
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    });

    TNetConnection clerk;
    clerk.setHost(QStringLiteral("127.0.0.1"));
    clerk.setPort(port);
    clerk.setServerName(kObject);
    clerk.setTimeout(3000);
    Variant text = makeText(QStringLiteral("guia"));
    QElapsedTimer timer;
    timer.start();
    const Variant result = clerk.call(QStringLiteral("Echo"), {&text});
    const qint64 elapsed = timer.elapsed();
    done = true;
    dripper.join();

    EXPECT_FALSE(clerk.lastCallFailed()) << clerk.lastError().toStdString();
    EXPECT_EQ(result, makeText(QStringLiteral("guia")));
    // Generous for a loaded machine: an answered call takes milliseconds.
    EXPECT_LT(elapsed, 1000) << "the clerk waited " << elapsed << " ms";
}

TEST(ServerFront, ConnectionsBeyondTheMaximumAreRefusedAndTheOthersServed)
{
    RpcServerOptions options;
    options.maxConnections = 8;
    auto server = startTestServer(options);
    std::vector<std::unique_ptr<RawClient>> open;
    for (int i = 0; i < 8; ++i)
        open.push_back(std::make_unique<RawClient>(server->port()));
    ASSERT_TRUE(open.back()->send(callWithBody(echoRequest(QStringLiteral("dentro")))));
    EXPECT_TRUE(answersEcho(open.back()->answer(3000), QStringLiteral("dentro")));

    RawClient extra(server->port());
    const RawAnswer refused = extra.answer(3000);
    EXPECT_EQ(refused.status, 503);
    EXPECT_TRUE(errorOf(refused).contains(QStringLiteral("conexões demais")));

    open.front().reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the server sees it close
    RawClient again(server->port());
    ASSERT_TRUE(again.send(callWithBody(echoRequest(QStringLiteral("de novo")))));
    EXPECT_TRUE(answersEcho(again.answer(3000), QStringLiteral("de novo")));
}

TEST(ServerFront, PipelinedMalformedAndHealthRequests)
{
    std::atomic<bool> healthy = true;
    RpcServerOptions options;
    options.healthCheck = [&](int thread) {
        EXPECT_GE(thread, 0); // on a worker, where a database connection lives
        return healthy ? QString() : QStringLiteral("banco de dados indisponível");
    };
    auto server = startTestServer(options);

    // Two calls in one write: two answers, in order.
    RawClient pipelined(server->port());
    ASSERT_TRUE(pipelined.send(callWithBody(echoRequest(QStringLiteral("um"))) +
                               callWithBody(echoRequest(QStringLiteral("dois")))));
    EXPECT_TRUE(answersEcho(pipelined.answer(3000), QStringLiteral("um")));
    EXPECT_TRUE(answersEcho(pipelined.answer(3000), QStringLiteral("dois")));
    // A big answer (its body goes out after the head from its own buffer) between two small
    // ones: all whole, in order.
    const QString big = QStringLiteral("ç").repeated(300000);
    ASSERT_TRUE(pipelined.send(callWithBody(echoRequest(QStringLiteral("antes"))) +
                               callWithBody(echoRequest(big)) +
                               callWithBody(echoRequest(QStringLiteral("depois")))));
    EXPECT_TRUE(answersEcho(pipelined.answer(3000), QStringLiteral("antes")));
    EXPECT_TRUE(answersEcho(pipelined.answer(10000), big));
    EXPECT_TRUE(answersEcho(pipelined.answer(3000), QStringLiteral("depois")));

    const struct
    {
        const char *name;
        QByteArray bytes;
        int status;
    } bad[] = {
        {"garbage", "GARBAGE\r\n\r\n", 400},
        {"version", "POST /call/X HTTP/3.0\r\n\r\n", 505},
        {"huge head", callHead("X-Pad: " + QByteArray(20000, 'p') + "\r\n"), 431},
        {"folded header", callHead("X-A: 1\r\n  continued\r\nContent-Length: 0\r\n"), 400},
        {"bad length", callHead("Content-Length: 12abc\r\n"), 400},
        {"unknown coding", callHead("Transfer-Encoding: gzip\r\n"), 501},
        {"get a call", "GET /call/Fis02900.rdmEmisGuiaPrv HTTP/1.1\r\n\r\n", 405},
        {"post health", "POST /health HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 405},
    };
    for (const auto &b : bad) {
        RawClient c(server->port());
        ASSERT_TRUE(c.send(b.bytes)) << b.name;
        const RawAnswer a = c.answer(3000);
        EXPECT_EQ(a.status, b.status) << b.name;
        EXPECT_FALSE(errorOf(a).isEmpty()) << b.name << ": every refusal says why";
    }

    RawClient health(server->port());
    ASSERT_TRUE(health.send("GET /health HTTP/1.1\r\nHost: lb\r\n\r\n"));
    const RawAnswer up = health.answer(3000);
    EXPECT_EQ(up.status, 200);
    EXPECT_EQ(up.body, "ok\n");
    healthy = false;
    ASSERT_TRUE(health.send("GET /health HTTP/1.1\r\nHost: lb\r\n\r\n"));
    const RawAnswer down = health.answer(3000);
    EXPECT_EQ(down.status, 503);
    EXPECT_TRUE(down.body.contains("indisponível"));
}
