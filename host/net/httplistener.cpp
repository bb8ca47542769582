#include "httplistener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
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
constexpr qsizetype kReadChunk = 64 * 1024;
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

QByteArray serialize(const HttpResponse &r, bool close, int keepAliveSeconds)
{
    QByteArray out;
    out.reserve(r.body.size() + 160);
    out += "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasonPhrase(r.status) + "\r\n";
    if (!r.contentType.isEmpty())
        out += "Content-Type: " + r.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    for (const auto &[name, value] : r.headers)
        out += name + ": " + value + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    else
        out += "Keep-Alive: timeout=" + QByteArray::number(keepAliveSeconds) + "\r\n";
    out += "\r\n";
    out += r.body;
    return out;
}

} // namespace

// --- HttpReply ---------------------------------------------------------------------------------

struct HttpReply::Mailbox
{
    std::mutex mutex;
    std::deque<std::pair<quint64, HttpResponse>> answers;
    int wakeFd = -1;

    ~Mailbox()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
    void wake() const
    {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
};

HttpReply::HttpReply(std::shared_ptr<Mailbox> mailbox, quint64 connection)
    : m_mailbox(std::move(mailbox)), m_connection(connection),
      m_answered(std::make_shared<bool>(false))
{}

void HttpReply::operator()(HttpResponse response) const
{
    {
        std::lock_guard lock(m_mailbox->mutex);
        if (*m_answered)
            return;
        *m_answered = true;
        m_mailbox->answers.emplace_back(m_connection, std::move(response));
    }
    m_mailbox->wake();
}

// --- HttpListener ------------------------------------------------------------------------------

namespace {

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

    int fd;
    quint64 id;
    QString peer;
    State state = State::Idle;
    HttpRequestParser parser;
    QByteArray pending; // bytes read past the request being handled
    bool keepAlive = true;
    bool continueSent = false;
    QByteArray out;
    qsizetype outAt = 0;
    bool shutDown = false;       // our side of the stream is closed
    bool readDone = false;       // the client's side is closed
    Clock::time_point since;     // entered the current state (or the last answer went out)
    Clock::time_point lastRead;  // last byte of a request arriving
    Clock::time_point lastWrite; // last progress sending an answer
    unsigned interest = 0;       // epoll events registered
};

} // namespace

struct HttpListener::Impl
{
    HttpListenerOptions options;
    RequestHandler onRequest;
    RefusalHandler onRefusal;

    int listenFd = -1;
    int epollFd = -1;
    int port = 0;
    std::shared_ptr<HttpReply::Mailbox> mailbox;
    std::thread loop;
    std::atomic<bool> stopRequested{false};
    bool stopping = false;
    bool acceptPaused = false;
    Clock::time_point acceptResume;

    std::unordered_map<quint64, std::unique_ptr<Connection>> connections;
    quint64 nextId = 2;
    Clock::time_point nextSweep = Clock::time_point::max();

    int maxConnections = 1;

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
        if (c.outAt < c.out.size())
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

    void watch(Connection &c)
    {
        nextSweep = std::min(nextSweep, deadlineOf(c));
        unsigned want = 0;
        if (c.state != Connection::State::Busy && !c.readDone)
            want |= EPOLLIN | EPOLLRDHUP;
        if (c.outAt < c.out.size())
            want |= EPOLLOUT;
        if (want == c.interest)
            return;
        epoll_event ev{};
        ev.events = want;
        ev.data.u64 = c.id;
        epoll_ctl(epollFd, EPOLL_CTL_MOD, c.fd, &ev);
        c.interest = want;
    }

    void drop(quint64 id)
    {
        const auto it = connections.find(id);
        if (it == connections.end())
            return;
        epoll_ctl(epollFd, EPOLL_CTL_DEL, it->second->fd, nullptr);
        ::close(it->second->fd);
        connections.erase(it);
    }

    // --- Accepting

    void acceptAll()
    {
        for (;;) {
            sockaddr_storage peer{};
            socklen_t len = sizeof peer;
            const int fd = accept4(listenFd, reinterpret_cast<sockaddr *>(&peer), &len,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                    pauseAccepting();
                return;
            }
            const QString peerText = QStringLiteral("%1:%2")
                                         .arg(addressText(reinterpret_cast<sockaddr *>(&peer)))
                                         .arg(portOf(reinterpret_cast<sockaddr *>(&peer)));
            if (qsizetype(connections.size()) >= maxConnections) {
                HttpResponse r =
                    onRefusal(503, QStringLiteral("conexões demais abertas"), peerText);
                const QByteArray bytes = serialize(r, true, options.keepAliveSeconds);
                [[maybe_unused]] const ssize_t n =
                    ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
                ::close(fd);
                continue;
            }
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            const quint64 id = nextId++;
            auto c = std::make_unique<Connection>(fd, id, peerText, options.maxBodyBytes,
                                                  options.maxHeadBytes);
            c->since = c->lastRead = c->lastWrite = Clock::now();
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLRDHUP;
            ev.data.u64 = id;
            if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
                ::close(fd);
                continue;
            }
            c->interest = ev.events;
            nextSweep = std::min(nextSweep, deadlineOf(*c));
            connections.emplace(id, std::move(c));
        }
    }

    void pauseAccepting()
    {
        epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
        acceptPaused = true;
        acceptResume = Clock::now() + kAcceptPause;
        nextSweep = std::min(nextSweep, acceptResume);
    }

    void resumeAccepting()
    {
        acceptPaused = false;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kListenId;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &ev);
    }

    // --- Reading

    void onReadable(Connection &c)
    {
        char buffer[kReadChunk];
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                drop(c.id);
            return;
        }
        if (n == 0) {
            // The client closed its side: nothing more will come. An answer on its way out
            // still goes (the client may be reading it); anything else ends here.
            if (c.state != Connection::State::Busy && c.outAt < c.out.size() && !c.shutDown) {
                c.readDone = true;
                c.state = Connection::State::Closing;
                watch(c);
                return;
            }
            drop(c.id);
            return;
        }
        if (c.state == Connection::State::Closing)
            return; // dropped: no more requests on this connection
        consume(c, buffer, n);
    }

    // Feeds bytes to the request being read; hands over a complete one, answers a refused one.
    void consume(Connection &c, const char *data, qsizetype size)
    {
        const Clock::time_point now = Clock::now();
        if (c.state == Connection::State::Idle) {
            c.state = Connection::State::Reading;
            c.since = now;
        }
        c.lastRead = now;
        const qsizetype used = c.parser.feed(data, size);
        switch (c.parser.status()) {
        case HttpRequestParser::Status::Incomplete:
            if (c.parser.expectsContinue() && !c.continueSent) {
                c.continueSent = true;
                if (!queueBytes(c, QByteArrayLiteral("HTTP/1.1 100 Continue\r\n\r\n")))
                    return;
            }
            watch(c);
            return;
        case HttpRequestParser::Status::Complete:
            c.pending.append(data + used, size - used);
            dispatch(c);
            return;
        case HttpRequestParser::Status::Failed:
            refuse(c, c.parser.failureStatus(), c.parser.failureReason());
            return;
        }
    }

    void dispatch(Connection &c)
    {
        c.state = Connection::State::Busy;
        c.since = Clock::now();
        HttpRequest request = c.parser.takeRequest();
        c.keepAlive = c.keepAlive && request.keepAlive;
        c.parser.reset();
        c.continueSent = false;
        watch(c);
        onRequest(std::move(request), c.peer, HttpReply(mailbox, c.id));
    }

    void refuse(Connection &c, int status, const QString &reason)
    {
        HttpResponse r = onRefusal(status, reason, c.peer);
        r.close = true;
        answer(c, std::move(r));
    }

    // --- Writing

    // Both return false when the connection was dropped (c is gone then).
    bool queueBytes(Connection &c, const QByteArray &bytes)
    {
        if (c.outAt == c.out.size()) {
            c.out.clear();
            c.outAt = 0;
            c.lastWrite = Clock::now();
        }
        c.out += bytes;
        return flush(c);
    }

    void answer(Connection &c, HttpResponse response)
    {
        const bool close = response.close || !c.keepAlive || stopping;
        const QByteArray bytes = serialize(response, close, options.keepAliveSeconds);
        if (close) {
            c.state = Connection::State::Closing;
            c.since = Clock::now();
            queueBytes(c, bytes);
            return;
        }
        c.state = Connection::State::Idle;
        c.since = Clock::now();
        if (!queueBytes(c, bytes) || c.pending.isEmpty())
            return;
        const QByteArray next = std::exchange(c.pending, QByteArray());
        consume(c, next.constData(), next.size());
    }

    bool flush(Connection &c)
    {
        while (c.outAt < c.out.size()) {
            const ssize_t n = ::send(c.fd, c.out.constData() + c.outAt,
                                     size_t(c.out.size() - c.outAt), MSG_NOSIGNAL);
            if (n > 0) {
                c.outAt += n;
                c.lastWrite = Clock::now();
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                break;
            drop(c.id);
            return false;
        }
        if (c.outAt == c.out.size() && c.state == Connection::State::Closing && !c.shutDown) {
            if (stopping || c.readDone) {
                drop(c.id);
                return false;
            }
            ::shutdown(c.fd, SHUT_WR);
            c.shutDown = true;
            c.since = Clock::now();
        }
        watch(c);
        return true;
    }

    void deliverAnswers()
    {
        quint64 counter = 0;
        [[maybe_unused]] const ssize_t n = ::read(mailbox->wakeFd, &counter, sizeof counter);
        std::deque<std::pair<quint64, HttpResponse>> answers;
        {
            std::lock_guard lock(mailbox->mutex);
            answers.swap(mailbox->answers);
        }
        for (auto &[id, response] : answers) {
            const auto it = connections.find(id);
            if (it == connections.end() || it->second->state != Connection::State::Busy)
                continue; // the client went away meanwhile
            answer(*it->second, std::move(response));
        }
    }

    // --- Time

    void sweep()
    {
        const Clock::time_point now = Clock::now();
        if (acceptPaused && now >= acceptResume && !stopping)
            resumeAccepting();
        nextSweep = acceptPaused ? acceptResume : Clock::time_point::max();
        std::vector<quint64> expired;
        for (const auto &[id, c] : connections) {
            const Clock::time_point d = deadlineOf(*c);
            if (d <= now)
                expired.push_back(id);
            else
                nextSweep = std::min(nextSweep, d);
        }
        for (quint64 id : expired) {
            const auto it = connections.find(id);
            if (it == connections.end())
                continue;
            Connection &c = *it->second;
            if (c.state == Connection::State::Reading && c.outAt == c.out.size())
                refuse(c, 408, QStringLiteral("o pedido não chegou inteiro a tempo"));
            else
                drop(id);
        }
    }

    void beginStop()
    {
        stopping = true;
        epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
        ::close(listenFd);
        listenFd = -1;
        std::vector<quint64> idle;
        for (const auto &[id, c] : connections) {
            if (c->state == Connection::State::Busy)
                continue; // its answer is still to come
            if (c->outAt < c->out.size()) {
                c->state = Connection::State::Closing; // the answer under way still goes out
                continue;
            }
            idle.push_back(id);
        }
        for (quint64 id : idle)
            drop(id);
    }

    void run()
    {
        epoll_event events[128];
        for (;;) {
            if (stopRequested && !stopping)
                beginStop();
            if (stopping && connections.empty())
                break;
            const Clock::time_point now = Clock::now();
            int timeout = 1000;
            if (nextSweep <= now)
                timeout = 0;
            else if (nextSweep - now < Ms(1000))
                timeout = int(std::chrono::ceil<Ms>(nextSweep - now).count());
            const int n = epoll_wait(epollFd, events, int(std::size(events)), timeout);
            for (int i = 0; i < n; ++i) {
                const quint64 id = events[i].data.u64;
                if (id == kListenId) {
                    if (!stopping)
                        acceptAll();
                    continue;
                }
                if (id == kWakeId) {
                    deliverAnswers();
                    continue;
                }
                const auto it = connections.find(id);
                if (it == connections.end())
                    continue;
                Connection &c = *it->second;
                const unsigned e = events[i].events;
                if ((e & EPOLLOUT) && !flush(c))
                    continue;
                if (e & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
                    onReadable(c);
            }
            if (Clock::now() >= nextSweep)
                sweep();
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
    if (d->loop.joinable())
        return true;
    if (!d->bind(error))
        return false;
    d->maxConnections = d->connectionCap();
    d->epollFd = epoll_create1(EPOLL_CLOEXEC);
    d->mailbox = std::make_shared<HttpReply::Mailbox>();
    d->mailbox->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kListenId;
    epoll_ctl(d->epollFd, EPOLL_CTL_ADD, d->listenFd, &ev);
    ev.data.u64 = kWakeId;
    epoll_ctl(d->epollFd, EPOLL_CTL_ADD, d->mailbox->wakeFd, &ev);
    d->stopRequested = false;
    d->stopping = false;
    d->loop = std::thread([this] { d->run(); });
    return true;
}

void HttpListener::stop()
{
    if (!d->loop.joinable())
        return;
    d->stopRequested = true;
    d->mailbox->wake();
    d->loop.join();
    ::close(d->epollFd);
    d->epollFd = -1;
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
