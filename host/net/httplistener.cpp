#include "httplistener.h"

#include <QtDebug>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace fis {

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr quint64 kListenId = 0;
constexpr quint64 kWakeId = 1;
constexpr quint64 kTimerId = 2;
constexpr qsizetype kReadChunk = 64 * 1024;
// How long a thread waits for the next piece of a request it is reading before handing the
// connection back to the event set.
constexpr Ms kPieceWait{1};
// How often one idle thread wakes to look for connections past their time.
constexpr Ms kSweepEvery{200};
// After its last answer a closing connection still reads (and drops) what the client sends,
// for at most this long, so that a client still sending its body gets to read the answer.
constexpr Ms kLinger{2000};
// Accepting pauses this long when the process runs out of file descriptors.
constexpr Ms kAcceptPause{100};

const char *reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 417:
        return "Expectation Failed";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

bool isLoopback(const sockaddr *address)
{
    if (address->sa_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(address);
        return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(address);
        if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr) && in6->sin6_addr.s6_addr[12] == 127;
    }
    return false;
}

QString addressText(const sockaddr *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text,
                  sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, text,
                  sizeof text);
    return QString::fromLatin1(text);
}

int portOf(const sockaddr *address)
{
    if (address->sa_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(address)->sin_port);
    if (address->sa_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(address)->sin6_port);
    return 0;
}

// A body at least this big goes out after the head from its own buffer instead of being copied
// behind it (a listing may be megabytes; a small answer stays one write).
constexpr qsizetype kSeparateBody = 64 * 1024;

// How the answer's body ends.
enum class Framing { Length, Chunked, Close };

// The answer's bytes: its head, followed by its body unless withBody is false.
QByteArray serialize(const HttpResponse &r, bool close, int keepAliveSeconds, bool withBody = true,
                     Framing framing = Framing::Length)
{
    QByteArray out;
    out.reserve((withBody ? r.body.size() : 0) + 160);
    out += "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasonPhrase(r.status) + "\r\n";
    if (!r.contentType.isEmpty())
        out += "Content-Type: " + r.contentType + "\r\n";
    if (framing == Framing::Length)
        out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    else if (framing == Framing::Chunked)
        out += "Transfer-Encoding: chunked\r\n";
    for (const auto &[name, value] : r.headers)
        out += name + ": " + value + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    else
        out += "Keep-Alive: timeout=" + QByteArray::number(keepAliveSeconds) + "\r\n";
    out += "\r\n";
    if (withBody)
        out += r.body;
    return out;
}

} // namespace

namespace {

qint64 msOf(Clock::time_point t)
{
    if (t == Clock::time_point::max())
        return std::numeric_limits<qint64>::max();
    return std::chrono::duration_cast<Ms>(t.time_since_epoch()).count();
}

struct Connection
{
    enum class State {
        Idle,    // waiting for the first byte of a request
        Reading, // a request is arriving
        Busy,    // a whole request is with the handler
        Closing, // no more requests: the last answer goes out, then the socket is closed
    };

    Connection(int fd, quint64 id, QString peer, qint64 maxBody, qsizetype maxHead)
        : fd(fd), id(id), peer(std::move(peer)), parser(maxBody, maxHead)
    {}

    // Held by whichever thread works on the connection (an event, a sweep).
    std::mutex mutex;
    const int fd;
    const quint64 id;
    const QString peer;
    bool closed = false;
    State state = State::Idle;
    HttpRequestParser parser;
    QByteArray pending; // bytes of requests that follow one whose answer is still going out
    bool keepAlive = true;
    bool continueSent = false;
    QByteArray out;
    qsizetype outAt = 0;
    QByteArray outNext;          // a big body, sent once `out` (its head) is
    bool shutDown = false;       // our side of the stream is closed
    bool readDone = false;       // the client's side is closed
    Clock::time_point since;     // entered the current state (or the last answer went out)
    Clock::time_point lastRead;  // last byte of a request arriving
    Clock::time_point lastWrite; // last progress sending an answer
    std::atomic<qint64> deadline{std::numeric_limits<qint64>::max()}; // for the sweep, in ms

    bool writing() const { return outAt < out.size() || !outNext.isEmpty(); }
};

using ConnectionPtr = std::shared_ptr<Connection>;

} // namespace

struct HttpListener::Impl
{
    HttpListenerOptions options;
    RequestHandler onRequest;
    RefusalHandler onRefusal;

    int listenFd = -1;
    int epollFd = -1;
    int wakeFd = -1;
    int timerFd = -1; // fires every kSweepEvery for one thread (idle threads wait without end)
    int port = 0;
    int maxConnections = 1;
    std::vector<std::thread> threads;
    std::atomic<bool> stopping{false};
    std::atomic<bool> stopBegun{false};

    std::mutex mapMutex; // guards connections and nextId
    std::unordered_map<quint64, ConnectionPtr> connections;
    quint64 nextId = 3;

    std::mutex sweepMutex;
    std::atomic<qint64> nextSweep{0};
    std::atomic<bool> acceptPaused{false};
    std::atomic<qint64> acceptResume{0};

    // The configured maximum, kept below the limit of open files (with room for the database
    // connections, logs and libraries of the process).
    int connectionCap() const
    {
        rlimit files{};
        qint64 cap = options.maxConnections;
        if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
            cap = std::min<qint64>(cap, std::max<qint64>(16, qint64(files.rlim_cur) - 128));
        return int(std::max<qint64>(1, cap));
    }

    Ms seconds(int s) const { return Ms(qint64(std::max(1, s)) * 1000); }

    Clock::time_point deadlineOf(const Connection &c) const
    {
        Clock::time_point d = Clock::time_point::max();
        if (c.writing())
            d = std::min(d, c.lastWrite + seconds(options.readTimeoutSeconds));
        switch (c.state) {
        case Connection::State::Idle:
            d = std::min(d, c.since + seconds(options.keepAliveSeconds));
            break;
        case Connection::State::Reading:
            d = std::min({d, c.lastRead + seconds(options.readTimeoutSeconds),
                          c.since + seconds(options.requestTimeoutSeconds)});
            break;
        case Connection::State::Busy:
            break;
        case Connection::State::Closing:
            if (c.shutDown)
                d = std::min(d, c.since + kLinger);
            break;
        }
        return d;
    }

    qsizetype connectionCount()
    {
        std::lock_guard lock(mapMutex);
        return qsizetype(connections.size());
    }

    ConnectionPtr find(quint64 id)
    {
        std::lock_guard lock(mapMutex);
        const auto it = connections.find(id);
        return it == connections.end() ? nullptr : it->second;
    }

    // Hands the connection back to the event set for what it waits for next. Caller holds its
    // mutex.
    void rearm(Connection &c)
    {
        if (c.closed)
            return;
        unsigned want = EPOLLONESHOT;
        if (!c.readDone && c.state != Connection::State::Busy)
            want |= EPOLLIN | EPOLLRDHUP;
        if (c.writing())
            want |= EPOLLOUT;
        c.deadline = msOf(deadlineOf(c));
        epoll_event ev{};
        ev.events = want;
        ev.data.u64 = c.id;
        epoll_ctl(epollFd, EPOLL_CTL_MOD, c.fd, &ev);
    }

    // Caller holds its mutex.
    void close(Connection &c)
    {
        if (c.closed)
            return;
        c.closed = true;
        epoll_ctl(epollFd, EPOLL_CTL_DEL, c.fd, nullptr);
        ::close(c.fd);
        std::lock_guard lock(mapMutex);
        connections.erase(c.id);
    }

    // --- Accepting

    void acceptAll()
    {
        for (int accepted = 0; accepted < 64; ++accepted) {
            sockaddr_storage peer{};
            socklen_t len = sizeof peer;
            const int fd = accept4(listenFd, reinterpret_cast<sockaddr *>(&peer), &len,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    // Out of descriptors: the listening socket stays unarmed for a moment.
                    acceptResume = msOf(Clock::now() + kAcceptPause);
                    acceptPaused = true;
                    return;
                }
                break;
            }
            const QString peerText = QStringLiteral("%1:%2")
                                         .arg(addressText(reinterpret_cast<sockaddr *>(&peer)))
                                         .arg(portOf(reinterpret_cast<sockaddr *>(&peer)));
            if (connectionCount() >= maxConnections) {
                const HttpResponse r =
                    onRefusal(503, QStringLiteral("conexões demais abertas"), peerText);
                const QByteArray bytes = serialize(r, true, options.keepAliveSeconds);
                [[maybe_unused]] const ssize_t n =
                    ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
                ::close(fd);
                continue;
            }
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            quint64 id = 0;
            {
                std::lock_guard lock(mapMutex);
                id = nextId++;
            }
            const auto c = std::make_shared<Connection>(fd, id, peerText, options.maxBodyBytes,
                                                        options.maxHeadBytes);
            // Known before it can raise an event, and left alone until it is registered.
            std::lock_guard hold(c->mutex);
            c->since = c->lastRead = c->lastWrite = Clock::now();
            c->deadline = msOf(deadlineOf(*c));
            {
                std::lock_guard lock(mapMutex);
                connections.emplace(id, c);
            }
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
            ev.data.u64 = id;
            if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0)
                close(*c);
        }
        armListener();
    }

    void armListener()
    {
        if (stopping)
            return;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLONESHOT;
        ev.data.u64 = kListenId;
        epoll_ctl(epollFd, EPOLL_CTL_MOD, listenFd, &ev);
    }

    // --- One event of a connection

    void onEvent(quint64 id, unsigned events)
    {
        const ConnectionPtr c = find(id);
        if (!c)
            return;
        std::lock_guard lock(c->mutex);
        if (c->closed)
            return;
        if ((events & EPOLLOUT) && !flush(*c))
            return;
        if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
            if (!readSome(*c))
                return;
        }
        rearm(*c);
    }

    // Reads what is there now. False when the connection was closed.
    bool readSome(Connection &c)
    {
        char buffer[kReadChunk];
        int waits = 0;
        for (int round = 0; round < 16; ++round) {
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    return true;
                close(c);
                return false;
            }
            if (n == 0) {
                // The client closed its side: nothing more will come. An answer on its way out
                // still goes (the client may be reading it); anything else ends here.
                if (c.writing() && !c.shutDown) {
                    c.readDone = true;
                    c.state = Connection::State::Closing;
                    return true;
                }
                close(c);
                return false;
            }
            if (c.state == Connection::State::Closing)
                continue; // dropped: no more requests on this connection
            if (!consume(c, QByteArray(buffer, n)))
                return false;
            if (n < qsizetype(sizeof buffer)) {
                // A request usually comes in pieces close together (head, then body): the rest
                // is waited for a moment here, which costs far less than going through the
                // event set again (and maybe another thread).
                if (c.state != Connection::State::Reading || waits >= 2 || !readableSoon(c.fd))
                    return true;
                ++waits;
            }
        }
        return true;
    }

    static bool readableSoon(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, int(kPieceWait.count())) > 0;
    }

    // Feeds bytes to the request being read, runs a complete one, answers a refused one; bytes
    // of following requests wait while an answer is still going out. False when closed.
    bool consume(Connection &c, QByteArray data)
    {
        qsizetype at = 0;
        while (at < data.size()) {
            if (c.state == Connection::State::Closing)
                return true;
            if (c.state == Connection::State::Idle && c.writing()) {
                c.pending += data.mid(at); // the next request waits for this answer to go out
                return true;
            }
            const Clock::time_point now = Clock::now();
            if (c.state == Connection::State::Idle) {
                c.state = Connection::State::Reading;
                c.since = now;
            }
            c.lastRead = now;
            at += c.parser.feed(data.constData() + at, data.size() - at);
            switch (c.parser.status()) {
            case HttpRequestParser::Status::Incomplete:
                // A request that trickles in is cut here, by the thread reading it: the sweep
                // may keep finding the connection busy with exactly these reads.
                if (now >= c.since + seconds(options.requestTimeoutSeconds))
                    return refuseLate(c);
                if (c.parser.expectsContinue() && !c.continueSent) {
                    c.continueSent = true;
                    if (!queue(c, QByteArrayLiteral("HTTP/1.1 100 Continue\r\n\r\n")))
                        return false;
                }
                break;
            case HttpRequestParser::Status::Complete:
                if (!dispatch(c))
                    return false;
                break;
            case HttpRequestParser::Status::Failed:
                return refuse(c, c.parser.failureStatus(), c.parser.failureReason());
            }
        }
        return true;
    }

    bool dispatch(Connection &c)
    {
        c.state = Connection::State::Busy;
        c.since = Clock::now();
        c.deadline = std::numeric_limits<qint64>::max();
        HttpRequest request = c.parser.takeRequest();
        c.keepAlive = c.keepAlive && request.keepAlive;
        const bool http10 = request.minorVersion == 0;
        c.parser.reset();
        c.continueSent = false;
        HttpResponse response;
        try {
            response = onRequest(std::move(request), c.peer);
        } catch (...) {
            response = onRefusal(500, QStringLiteral("erro interno"), c.peer);
            response.close = true;
        }
        if (response.stream)
            return answerWhileMade(c, std::move(response), http10);
        return answer(c, std::move(response));
    }

    // Runs the answer's stream, sending what it writes as it writes it: this thread waits for
    // the client (the connection is Busy, so no other thread touches it meanwhile).
    bool answerWhileMade(Connection &c, HttpResponse response, bool http10)
    {
        // HTTP/1.0 knows no chunks: there the body ends where the connection does.
        const Framing framing = http10 ? Framing::Close : Framing::Chunked;
        const bool closing = response.close || !c.keepAlive || stopping || http10;
        bool headSent = false;
        bool lost = false;
        QByteArray prefix;
        const HttpBodySink send = [&](std::span<const QByteArrayView> parts) {
            if (lost)
                return false;
            qsizetype size = 0;
            for (const QByteArrayView part : parts)
                size += part.size();
            if (size == 0)
                return true;
            prefix.clear();
            if (!headSent) {
                // Whatever was still going out (a 100 Continue) goes first.
                if (c.writing())
                    prefix = c.out.mid(c.outAt) + std::exchange(c.outNext, QByteArray());
                c.out.clear();
                c.outAt = 0;
                prefix += serialize(response, closing, options.keepAliveSeconds, false, framing);
                headSent = true;
            }
            std::vector<QByteArrayView> all;
            all.reserve(parts.size() + 2);
            if (framing == Framing::Chunked)
                prefix += QByteArray::number(size, 16) + "\r\n";
            all.push_back(prefix);
            all.insert(all.end(), parts.begin(), parts.end());
            if (framing == Framing::Chunked)
                all.push_back("\r\n");
            lost = !sendNow(c, all);
            return !lost;
        };
        HttpResponse whole;
        try {
            whole = response.stream(send);
        } catch (...) {
            lost = lost || headSent;
            whole = onRefusal(500, QStringLiteral("erro interno"), c.peer);
            whole.close = true;
        }
        if (lost) {
            close(c);
            return false;
        }
        if (!headSent) {
            whole.stream = nullptr;
            return answer(c, std::move(whole));
        }
        c.state = closing ? Connection::State::Closing : Connection::State::Idle;
        c.since = Clock::now();
        return queue(c,
                     framing == Framing::Chunked ? QByteArrayLiteral("0\r\n\r\n") : QByteArray());
    }

    // Sends all the parts now, waiting for the socket to take them; false (the caller closes)
    // when it fails or has not taken them all within the read timeout: a client reading a piece
    // slower than that (under about 50 KiB/s for a listing's pieces) gives its worker back.
    bool sendNow(Connection &c, std::vector<QByteArrayView> parts)
    {
        const Clock::time_point until = Clock::now() + seconds(options.readTimeoutSeconds);
        size_t first = 0;
        for (;;) {
            while (first < parts.size() && parts[first].isEmpty())
                ++first;
            if (first == parts.size())
                return true;
            iovec v[16];
            int n = 0;
            for (size_t i = first; i < parts.size() && n < 16; ++i) {
                if (!parts[i].isEmpty())
                    v[n++] = {const_cast<char *>(parts[i].data()), size_t(parts[i].size())};
            }
            msghdr m{};
            m.msg_iov = v;
            m.msg_iovlen = size_t(n);
            const ssize_t sent = ::sendmsg(c.fd, &m, MSG_NOSIGNAL);
            if (sent > 0) {
                c.lastWrite = Clock::now();
                qsizetype left = sent;
                while (left > 0) {
                    QByteArrayView &p = parts[first];
                    if (p.size() <= left) {
                        left -= p.size();
                        ++first;
                    } else {
                        p = p.sliced(left);
                        left = 0;
                    }
                }
                continue;
            }
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const qint64 left = std::chrono::duration_cast<Ms>(until - Clock::now()).count();
                pollfd p{c.fd, POLLOUT, 0};
                int ready = 0;
                do {
                    ready = left > 0 ? ::poll(&p, 1, int(left)) : 0;
                } while (ready < 0 && errno == EINTR);
                if (ready > 0)
                    continue;
            }
            return false;
        }
    }

    bool refuse(Connection &c, int status, const QString &reason)
    {
        HttpResponse r = onRefusal(status, reason, c.peer);
        r.close = true;
        return answer(c, std::move(r));
    }

    bool refuseLate(Connection &c)
    {
        return refuse(c, 408, QStringLiteral("o pedido não chegou inteiro a tempo"));
    }

    // --- Writing (all return false when the connection was closed)

    bool answer(Connection &c, HttpResponse response)
    {
        const bool close = response.close || !c.keepAlive || stopping;
        c.state = close ? Connection::State::Closing : Connection::State::Idle;
        c.since = Clock::now();
        if (response.body.size() >= kSeparateBody)
            return queue(c, serialize(response, close, options.keepAliveSeconds, false),
                         response.body);
        return queue(c, serialize(response, close, options.keepAliveSeconds));
    }

    bool queue(Connection &c, const QByteArray &bytes, const QByteArray &body = {})
    {
        if (!c.writing()) {
            c.out.clear();
            c.outAt = 0;
            c.lastWrite = Clock::now();
        }
        if (!c.outNext.isEmpty()) { // behind a big body: join it, all in order
            c.outNext += bytes;
            c.outNext += body;
        } else {
            c.out += bytes;
            c.outNext = body;
        }
        return flush(c);
    }

    bool flush(Connection &c)
    {
        while (c.writing()) {
            if (c.outAt >= c.out.size()) {
                c.out = std::exchange(c.outNext, QByteArray());
                c.outAt = 0;
            }
            const ssize_t n = ::send(c.fd, c.out.constData() + c.outAt,
                                     size_t(c.out.size() - c.outAt), MSG_NOSIGNAL);
            if (n > 0) {
                c.outAt += n;
                c.lastWrite = Clock::now();
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return true;
            close(c);
            return false;
        }
        if (c.state == Connection::State::Closing && !c.shutDown) {
            if (stopping || c.readDone) {
                close(c);
                return false;
            }
            ::shutdown(c.fd, SHUT_WR);
            c.shutDown = true;
            c.since = Clock::now();
        }
        if (c.state == Connection::State::Idle && !c.pending.isEmpty())
            return consume(c, std::exchange(c.pending, QByteArray()));
        return true;
    }

    // --- Time

    // Connections past their time: one thread at a time looks, every kSweepEvery.
    void maybeSweep()
    {
        const qint64 now = msOf(Clock::now());
        qint64 due = nextSweep;
        if (now < due || !nextSweep.compare_exchange_strong(due, now + kSweepEvery.count()))
            return;
        std::unique_lock sweeping(sweepMutex, std::try_to_lock);
        if (!sweeping)
            return;
        if (acceptPaused && now >= acceptResume) {
            acceptPaused = false;
            armListener();
        }
        std::vector<ConnectionPtr> late;
        {
            std::lock_guard lock(mapMutex);
            for (const auto &[id, c] : connections)
                if (stopping || c->deadline <= now)
                    late.push_back(c);
        }
        for (const ConnectionPtr &c : late) {
            std::unique_lock lock(c->mutex, std::try_to_lock);
            if (!lock || c->closed)
                continue; // a thread works on it (or it is gone)
            if (stopping) {
                // Closed, unless an answer is still going out.
                if (c->writing())
                    c->state = Connection::State::Closing;
                else
                    close(*c);
                continue;
            }
            if (msOf(deadlineOf(*c)) > now) {
                rearm(*c);
                continue;
            }
            if (c->state == Connection::State::Reading && !c->writing()) {
                if (refuseLate(*c))
                    rearm(*c);
            } else {
                close(*c);
            }
        }
    }

    void beginStop()
    {
        // No more connections are taken (the socket itself is closed once the threads are
        // joined: one of them may be accepting right now).
        epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
        nextSweep = 0; // the next sweep closes what is idle
        maybeSweep();
    }

    void rearmTimer()
    {
        quint64 expirations = 0;
        [[maybe_unused]] const ssize_t n = ::read(timerFd, &expirations, sizeof expirations);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLONESHOT;
        ev.data.u64 = kTimerId;
        epoll_ctl(epollFd, EPOLL_CTL_MOD, timerFd, &ev);
    }

    // Wakes one more thread (each that ends wakes the next).
    void wakeOne()
    {
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLONESHOT;
        ev.data.u64 = kWakeId;
        epoll_ctl(epollFd, EPOLL_CTL_MOD, wakeFd, &ev);
    }

    void run(int index)
    {
        runHook(options.onThreadStart, index, "start");
        for (;;) {
            epoll_event ev{};
            // One event at a time: a long call must not hold back events taken with it. The
            // threads do not each wake on a timeout to sweep: dozens of them waking together
            // every few tenths of a second delayed the calls being served (a shared timer wakes
            // one of them instead). Stopping, each looks on its own.
            const int n = epoll_wait(epollFd, &ev, 1, stopping ? int(kSweepEvery.count()) : -1);
            if (n == 1) {
                if (ev.data.u64 == kListenId)
                    acceptAll();
                else if (ev.data.u64 == kTimerId)
                    rearmTimer();
                else if (ev.data.u64 != kWakeId)
                    onEvent(ev.data.u64, ev.events);
            }
            if (stopping) {
                if (!stopBegun.exchange(true))
                    beginStop();
                maybeSweep();
                if (connectionCount() == 0) {
                    wakeOne();
                    break;
                }
            } else {
                maybeSweep();
            }
        }
        runHook(options.onThreadStop, index, "stop");
    }

    static void runHook(const std::function<void(int)> &hook, int index, const char *which)
    {
        if (!hook)
            return;
        try {
            hook(index);
        } catch (const std::exception &e) {
            qWarning("http worker %d: %s hook failed: %s", index, which, e.what());
        } catch (...) {
            qWarning("http worker %d: %s hook failed", index, which);
        }
    }

    bool bind(QString *error)
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE;
        addrinfo *found = nullptr;
        const QByteArray host = options.host.toUtf8();
        const QByteArray service = QByteArray::number(options.port);
        if (const int rc = getaddrinfo(host.constData(), service.constData(), &hints, &found)) {
            *error = QStringLiteral("Endereço %1 não encontrado: %2.")
                         .arg(options.host, QString::fromLocal8Bit(gai_strerror(rc)));
            return false;
        }
        QString why;
        for (addrinfo *a = found; a && listenFd < 0; a = a->ai_next) {
            if (options.loopbackOnly && !isLoopback(a->ai_addr)) {
                why = QStringLiteral("%1 não é um endereço local (loopback)")
                          .arg(addressText(a->ai_addr));
                continue;
            }
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    a->ai_protocol);
            if (fd < 0)
                continue;
            // Only the restart after TIME_WAIT is allowed: a second server on a busy port must
            // fail, not silently share it.
            const int yes = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
                why = QString::fromLocal8Bit(std::strerror(errno));
                ::close(fd);
                continue;
            }
            listenFd = fd;
        }
        freeaddrinfo(found);
        if (listenFd < 0) {
            *error = QStringLiteral("Não foi possível abrir a porta %1 em %2: %3.")
                         .arg(options.port == 0 ? QStringLiteral("livre")
                                                : QString::number(options.port),
                              options.host, why);
            return false;
        }
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        getsockname(listenFd, reinterpret_cast<sockaddr *>(&bound), &len);
        port = portOf(reinterpret_cast<sockaddr *>(&bound));
        return true;
    }
};

HttpListener::HttpListener(HttpListenerOptions options, RequestHandler onRequest,
                           RefusalHandler onRefusal)
    : d(std::make_unique<Impl>())
{
    d->options = std::move(options);
    d->onRequest = std::move(onRequest);
    d->onRefusal = std::move(onRefusal);
}

HttpListener::~HttpListener()
{
    stop();
}

bool HttpListener::start(QString *error)
{
    if (!d->threads.empty())
        return true;
    if (!d->bind(error))
        return false;
    d->maxConnections = d->connectionCap();
    d->stopping = false;
    d->stopBegun = false;
    d->epollFd = epoll_create1(EPOLL_CLOEXEC);
    d->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.u64 = kListenId;
    epoll_ctl(d->epollFd, EPOLL_CTL_ADD, d->listenFd, &ev);
    ev.data.u64 = kWakeId;
    epoll_ctl(d->epollFd, EPOLL_CTL_ADD, d->wakeFd, &ev);
    d->timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    const auto every = std::chrono::duration_cast<std::chrono::nanoseconds>(kSweepEvery).count();
    const timespec period{time_t(every / 1000000000), long(every % 1000000000)};
    const itimerspec timer{period, period};
    timerfd_settime(d->timerFd, 0, &timer, nullptr);
    ev.data.u64 = kTimerId;
    epoll_ctl(d->epollFd, EPOLL_CTL_ADD, d->timerFd, &ev);
    for (int i = 0; i < std::max(1, d->options.threads); ++i)
        d->threads.emplace_back([this, i] { d->run(i); });
    return true;
}

void HttpListener::stop()
{
    if (d->threads.empty())
        return;
    d->stopping = true;
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(d->wakeFd, &one, sizeof one);
    for (std::thread &t : d->threads)
        t.join();
    d->threads.clear();
    ::close(d->listenFd);
    ::close(d->epollFd);
    ::close(d->wakeFd);
    ::close(d->timerFd);
    d->listenFd = d->epollFd = d->wakeFd = d->timerFd = -1;
    d->port = 0;
}

int HttpListener::port() const
{
    return d->port;
}

bool isLoopbackHost(const QString &host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0)
        return false;
    bool all = found != nullptr;
    for (addrinfo *a = found; a; a = a->ai_next)
        all = all && isLoopback(a->ai_addr);
    freeaddrinfo(found);
    return all;
}

} // namespace fis
