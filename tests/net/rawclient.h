#pragma once
// A bare TCP client for the tests of the server's front door: it sends exactly the bytes it is
// given (slowly, partly, or not at all) and reads raw HTTP answers.
#include <QByteArray>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <utility>

namespace fis::test {

struct RawAnswer
{
    int status = 0; // 0: no whole answer arrived
    QByteArray head;
    QByteArray body;
    int chunks = 0; // HTTP chunks of a chunked body
};

class RawClient
{
public:
    explicit RawClient(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool connected() const { return m_connected; }
    bool send(const QByteArray &bytes)
    {
        qsizetype at = 0;
        while (at < bytes.size()) {
            const ssize_t n =
                ::send(m_fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            at += n;
        }
        return true;
    }

    // One answer: head, then as many body bytes as its Content-Length says, or its chunks.
    RawAnswer answer(int timeoutMs)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        RawAnswer a;
        qsizetype end = -1;
        while ((end = m_in.indexOf("\r\n\r\n")) < 0)
            if (!readMore(until))
                return a;
        a.head = m_in.left(end + 4);
        if (a.head.toLower().contains("transfer-encoding: chunked"))
            return chunkedAnswer(std::move(a), until);
        qsizetype length = 0;
        for (const QByteArray &line : a.head.split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        while (m_in.size() < end + 4 + length)
            if (!readMore(until))
                return a;
        a.body = m_in.mid(end + 4, length);
        m_in.remove(0, end + 4 + length);
        a.status = a.head.mid(9, 3).toInt();
        return a;
    }

    // True when the server closes the connection within the time (whatever it sent first).
    bool closedWithin(int timeoutMs)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < until) {
            if (!readMore(until))
                return m_eof;
        }
        return m_eof;
    }
    // Everything received until the server closed (empty when it did not within the time).
    QByteArray untilClosed(int timeoutMs)
    {
        return closedWithin(timeoutMs) ? std::exchange(m_in, QByteArray()) : QByteArray();
    }

private:
    RawAnswer chunkedAnswer(RawAnswer a, std::chrono::steady_clock::time_point until)
    {
        qsizetype at = a.head.size();
        QByteArray body;
        for (;;) {
            qsizetype eol = -1;
            while ((eol = m_in.indexOf("\r\n", at)) < 0)
                if (!readMore(until))
                    return a;
            bool ok = false;
            const qsizetype size = m_in.mid(at, eol - at).toLongLong(&ok, 16);
            if (!ok)
                return a;
            while (m_in.size() < eol + 2 + size + 2)
                if (!readMore(until))
                    return a;
            if (m_in.mid(eol + 2 + size, 2) != "\r\n")
                return a;
            at = eol + 2 + size + 2;
            if (size == 0)
                break;
            body += m_in.mid(eol + 2, size);
            ++a.chunks;
        }
        m_in.remove(0, at);
        a.body = body;
        a.status = a.head.mid(9, 3).toInt();
        return a;
    }

    bool readMore(std::chrono::steady_clock::time_point until)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_eof)
            return false;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            return false;
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            m_eof = true;
            return false;
        }
        m_in.append(buffer, n);
        return true;
    }

    int m_fd = -1;
    bool m_connected = false;
    bool m_eof = false;
    QByteArray m_in;
};

// The head of a call to the test object, with the given framing headers.
inline QByteArray callHead(const QByteArray &framing)
{
    return "POST /call/Fis02900.rdmEmisGuiaPrv HTTP/1.1\r\nHost: test\r\n"
           "Content-Type: application/cbor\r\n" +
           framing + "\r\n";
}

inline QByteArray callWithBody(const QByteArray &body)
{
    return callHead("Content-Length: " + QByteArray::number(body.size()) + "\r\n") + body;
}

} // namespace fis::test
