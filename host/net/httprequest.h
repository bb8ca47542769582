#pragma once
// One HTTP/1.x request read incrementally from a socket's bytes, with hard limits: the request
// line and headers together at most maxHeadBytes, the body at most maxBodyBytes whatever its
// framing (Content-Length or chunked). A request over a limit or malformed is refused as soon
// as that is known, with the HTTP status and a reason fit for the caller; a declared length
// over the limit is refused at the end of the headers, before any of the body is read.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <utility>

namespace fis {

struct HttpRequest
{
    QByteArray method;    // "POST", "GET"...
    QByteArray target;    // as sent, e.g. "/call/Fis02900.rdmEmisGuiaPrv?x=1"
    QByteArray path;      // the target's path, percent-decoded, without the query
    int minorVersion = 1; // HTTP/1.<minorVersion>
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case, values trimmed
    QByteArray body;
    bool keepAlive = true; // the client wants the connection kept after the answer

    // The first header of that (lower-case) name; empty when absent.
    QByteArray header(const char *lowerName) const;
};

class HttpRequestParser
{
public:
    enum class Status { Incomplete, Complete, Failed };

    explicit HttpRequestParser(qint64 maxBodyBytes, qsizetype maxHeadBytes = 16 * 1024);

    // Reads from the given bytes what belongs to the request; returns how many were used (the
    // rest belongs to whatever follows). Stops consuming once Complete or Failed.
    qsizetype feed(const char *data, qsizetype size);

    Status status() const { return m_status; }
    bool started() const { return m_started; } // a byte of the request has arrived
    bool headComplete() const { return m_stage > Stage::Head; }
    bool expectsContinue() const { return m_expectContinue; } // "Expect: 100-continue"
    const HttpRequest &request() const { return m_request; }
    HttpRequest takeRequest() { return std::move(m_request); }

    // When Failed: the status to answer (400, 413, 414, 417, 431, 501) and why, in Portuguese.
    int failureStatus() const { return m_failStatus; }
    QString failureReason() const { return m_failReason; }

    // Starts over for the next request on the same connection.
    void reset();

private:
    enum class Stage { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, Done };

    bool fail(int status, const QString &reason);
    bool takeLine(const char *data, qsizetype size, qsizetype *used, QByteArray *line,
                  qsizetype limit, int overStatus);
    bool parseHead();
    bool parseRequestLine(const QByteArray &line);
    bool parseChunkSize(const QByteArray &line);

    qint64 m_maxBody;
    qsizetype m_maxHead;

    Status m_status = Status::Incomplete;
    Stage m_stage = Stage::Head;
    bool m_started = false;
    bool m_expectContinue = false;
    bool m_chunked = false;
    qsizetype m_headBytes = 0;
    QByteArray m_line;        // the line being assembled
    QList<QByteArray> m_head; // request line and header lines, once complete
    qint64 m_remaining = 0;   // body bytes (or chunk bytes) still to come
    HttpRequest m_request;
    int m_failStatus = 0;
    QString m_failReason;
};

} // namespace fis
