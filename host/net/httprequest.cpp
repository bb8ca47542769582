#include "httprequest.h"

#include <algorithm>
#include <cstring>

namespace fis {

namespace {

constexpr qsizetype kMaxChunkLine = 4096;

bool isTokenChar(char c)
{
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

// Comma-separated tokens of a header value, trimmed and in lower case.
QList<QByteArray> tokens(const QByteArray &value)
{
    QList<QByteArray> out;
    for (const QByteArray &part : value.split(','))
        out.append(part.trimmed().toLower());
    return out;
}

} // namespace

QByteArray HttpRequest::header(const char *lowerName) const
{
    for (const auto &[name, value] : headers)
        if (name == lowerName)
            return value;
    return {};
}

HttpRequestParser::HttpRequestParser(qint64 maxBodyBytes, qsizetype maxHeadBytes)
    : m_maxBody(std::max<qint64>(0, maxBodyBytes)), m_maxHead(maxHeadBytes)
{}

void HttpRequestParser::reset()
{
    m_status = Status::Incomplete;
    m_stage = Stage::Head;
    m_started = false;
    m_expectContinue = false;
    m_chunked = false;
    m_headBytes = 0;
    m_line.clear();
    m_head.clear();
    m_remaining = 0;
    m_request = HttpRequest();
    m_failStatus = 0;
    m_failReason.clear();
}

bool HttpRequestParser::fail(int status, const QString &reason)
{
    m_status = Status::Failed;
    m_failStatus = status;
    m_failReason = reason;
    return false;
}

// Appends to m_line up to the next LF. True when a whole line is there (in *line, without its
// CR LF); false when more bytes are needed or the line went over `limit` (then Failed).
bool HttpRequestParser::takeLine(const char *data, qsizetype size, qsizetype *used,
                                 QByteArray *line, qsizetype limit, int overStatus)
{
    const char *from = data + *used;
    const qsizetype left = size - *used;
    const void *lf = std::memchr(from, '\n', size_t(left));
    const qsizetype take = lf ? qsizetype(static_cast<const char *>(lf) - from) + 1 : left;
    if (m_line.size() + take > limit) {
        fail(overStatus,
             overStatus == 414 ? QStringLiteral("linha de pedido grande demais")
             : overStatus == 431
                 ? QStringLiteral("cabeçalho grande demais (mais de %1 bytes)").arg(m_maxHead)
                 : QStringLiteral("linha de tamanho de bloco grande demais"));
        return false;
    }
    m_line.append(from, take);
    *used += take;
    if (!lf)
        return false;
    m_line.chop(1);
    if (m_line.endsWith('\r'))
        m_line.chop(1);
    *line = m_line;
    m_line.clear();
    return true;
}

qsizetype HttpRequestParser::feed(const char *data, qsizetype size)
{
    qsizetype used = 0;
    while (m_status == Status::Incomplete && used < size) {
        m_started = true;
        QByteArray line;
        switch (m_stage) {
        case Stage::Head: {
            const qsizetype before = used;
            const int over = m_head.isEmpty() ? 414 : 431;
            const bool whole =
                takeLine(data, size, &used, &line, m_maxHead - m_headBytes + m_line.size(), over);
            m_headBytes += used - before;
            if (!whole)
                break;
            if (line.isEmpty() && m_head.isEmpty()) {
                continue; // empty lines before a request are tolerated
            }
            if (!line.isEmpty()) {
                m_head.append(line);
                continue;
            }
            parseHead();
            break;
        }
        case Stage::Body: {
            const qsizetype take = qsizetype(std::min<qint64>(m_remaining, size - used));
            m_request.body.append(data + used, take);
            used += take;
            m_remaining -= take;
            if (m_remaining == 0) {
                m_stage = Stage::Done;
                m_status = Status::Complete;
            }
            break;
        }
        case Stage::ChunkSize:
            if (takeLine(data, size, &used, &line, kMaxChunkLine, 400))
                parseChunkSize(line);
            break;
        case Stage::ChunkData: {
            const qsizetype take = qsizetype(std::min<qint64>(m_remaining, size - used));
            m_request.body.append(data + used, take);
            used += take;
            m_remaining -= take;
            if (m_remaining == 0)
                m_stage = Stage::ChunkEnd;
            break;
        }
        case Stage::ChunkEnd:
            if (takeLine(data, size, &used, &line, kMaxChunkLine, 400)) {
                if (!line.isEmpty())
                    fail(400, QStringLiteral("bloco sem o fim de linha esperado"));
                else
                    m_stage = Stage::ChunkSize;
            }
            break;
        case Stage::Trailer: {
            const qsizetype before = used;
            const bool whole =
                takeLine(data, size, &used, &line, m_maxHead - m_headBytes + m_line.size(), 431);
            m_headBytes += used - before;
            if (whole && line.isEmpty()) {
                m_stage = Stage::Done;
                m_status = Status::Complete;
            }
            break; // trailer fields are read and ignored
        }
        case Stage::Done:
            return used;
        }
    }
    return used;
}

bool HttpRequestParser::parseRequestLine(const QByteArray &line)
{
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || parts[1].isEmpty())
        return fail(400, QStringLiteral("linha de pedido malformada"));
    for (char c : parts[0])
        if (!isTokenChar(c))
            return fail(400, QStringLiteral("método HTTP malformado"));
    if (parts[2] == "HTTP/1.1")
        m_request.minorVersion = 1;
    else if (parts[2] == "HTTP/1.0")
        m_request.minorVersion = 0;
    else
        return fail(505, QStringLiteral("versão do HTTP não suportada"));
    m_request.method = parts[0];
    m_request.target = parts[1];
    if (!m_request.target.startsWith('/'))
        return fail(400, QStringLiteral("endereço do pedido malformado"));
    const qsizetype query = m_request.target.indexOf('?');
    m_request.path = QByteArray::fromPercentEncoding(query < 0 ? m_request.target
                                                               : m_request.target.left(query));
    return true;
}

bool HttpRequestParser::parseHead()
{
    for (const QByteArray &line : m_head)
        if (line.contains('\r') || line.contains('\0'))
            return fail(400, QStringLiteral("caractere inválido no cabeçalho"));
    if (!parseRequestLine(m_head.first()))
        return false;

    QList<QByteArray> lengths;
    QByteArray transfer;
    bool close = false, keepAlive = false;
    for (qsizetype i = 1; i < m_head.size(); ++i) {
        const QByteArray &line = m_head[i];
        if (line.startsWith(' ') || line.startsWith('\t'))
            return fail(400, QStringLiteral("cabeçalho dobrado em várias linhas"));
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return fail(400, QStringLiteral("linha de cabeçalho malformada"));
        const QByteArray name = line.left(colon).toLower();
        for (char c : name)
            if (!isTokenChar(c))
                return fail(400, QStringLiteral("nome de cabeçalho malformado"));
        const QByteArray value = line.mid(colon + 1).trimmed();
        m_request.headers.append({name, value});
        if (name == "content-length") {
            lengths += tokens(value);
        } else if (name == "transfer-encoding") {
            transfer += (transfer.isEmpty() ? "" : ",") + value;
        } else if (name == "connection") {
            for (const QByteArray &t : tokens(value)) {
                close = close || t == "close";
                keepAlive = keepAlive || t == "keep-alive";
            }
        } else if (name == "expect") {
            if (value.toLower() != "100-continue")
                return fail(417, QStringLiteral("expectativa não suportada"));
            m_expectContinue = true;
        }
    }
    m_request.keepAlive = !close && (m_request.minorVersion == 1 || keepAlive);

    // Framing: exactly one of a length or the chunked coding (both at once is how requests
    // are smuggled past proxies).
    qint64 length = 0;
    if (!transfer.isEmpty()) {
        if (!lengths.isEmpty() || m_request.minorVersion == 0)
            return fail(400, QStringLiteral("tamanho do corpo ambíguo"));
        if (tokens(transfer) != QList<QByteArray>{"chunked"})
            return fail(501, QStringLiteral("codificação de transferência não suportada"));
        m_chunked = true;
    } else if (!lengths.isEmpty()) {
        for (const QByteArray &l : lengths) {
            if (l.isEmpty() || l.size() > 18 || l != lengths.first())
                return fail(400, QStringLiteral("tamanho do corpo inválido"));
            for (char c : l)
                if (c < '0' || c > '9')
                    return fail(400, QStringLiteral("tamanho do corpo inválido"));
        }
        length = lengths.first().toLongLong();
        if (length > m_maxBody)
            return fail(413, QStringLiteral("pedido grande demais (%1 bytes; o limite é %2)")
                                 .arg(length)
                                 .arg(m_maxBody));
    }
    m_head.clear();
    if (m_chunked) {
        m_stage = Stage::ChunkSize;
    } else if (length > 0) {
        m_remaining = length;
        m_stage = Stage::Body;
    } else {
        m_stage = Stage::Done;
        m_status = Status::Complete;
    }
    m_expectContinue = m_expectContinue && m_stage != Stage::Done;
    return true;
}

bool HttpRequestParser::parseChunkSize(const QByteArray &line)
{
    const qsizetype ext = line.indexOf(';');
    const QByteArray hex = (ext < 0 ? line : line.left(ext)).trimmed();
    if (hex.isEmpty() || hex.size() > 15)
        return fail(400, QStringLiteral("tamanho de bloco inválido"));
    qint64 size = 0;
    for (char c : hex) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return fail(400, QStringLiteral("tamanho de bloco inválido"));
        size = size * 16 + digit;
    }
    if (size > m_maxBody - m_request.body.size())
        return fail(413, QStringLiteral("pedido grande demais (mais de %1 bytes)").arg(m_maxBody));
    if (size == 0) {
        m_stage = Stage::Trailer;
        m_headBytes = 0;
    } else {
        m_remaining = size;
        m_stage = Stage::ChunkData;
    }
    return true;
}

} // namespace fis
