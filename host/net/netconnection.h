#pragma once
// The host's connection to an application server object: remote calls by position with
// by-reference arguments, over HTTP + CBOR (net/rpcwire.h), one persistent connection.
//
// Failures never crash and never pass for data: with throwException off (the default) a failed
// call answers a text that says what happened, in Portuguese, which the screens check through
// Consiste::CheckResultServ; with throwException on it throws ERemoteError instead.
// A connection belongs to one thread at a time (the screens' one); use one per thread.
#include "data/variant.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>

namespace fis {

// Thrown by TNetConnection::call() when throwException is on.
class ERemoteError : public std::runtime_error
{
public:
    // transport: the answer never arrived or could not be read (as opposed to the server
    // reporting a failure of the call).
    ERemoteError(const QString &message, bool transport);
    QString message() const { return m_message; }
    bool isTransport() const { return m_transport; }

private:
    QString m_message;
    bool m_transport;
};

} // namespace fis

class TNetConnection : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString host READ host WRITE setHost)
    Q_PROPERTY(int port READ port WRITE setPort)
    Q_PROPERTY(QString serverName READ serverName WRITE setServerName)
    Q_PROPERTY(bool throwException READ throwException WRITE setThrowException)
    Q_PROPERTY(int timeout READ timeout WRITE setTimeout)
    Q_PROPERTY(QString authToken READ authToken WRITE setAuthToken)
    Q_PROPERTY(QString operatorName READ operatorName WRITE setOperatorName)
    Q_PROPERTY(bool connected READ connected WRITE setConnected)

public:
    // Runs before the connection opens (first call, or first call after a disconnect), so that
    // the owner can set host and port, e.g. from the login values. What it throws reaches the
    // caller of call()/setConnected() as is, and the connection stays closed.
    using BeforeConnectEvent = std::function<void(TNetConnection *sender)>;

    explicit TNetConnection(QObject *parent = nullptr);
    ~TNetConnection() override;

    QString host() const;
    void setHost(const QString &host);
    int port() const;
    void setPort(int port);
    QString serverName() const;
    void setServerName(const QString &name);
    bool throwException() const;
    void setThrowException(bool on);
    int timeout() const; // milliseconds, for connecting and for each answer; default 120000
    void setTimeout(int milliseconds);
    QString authToken() const; // sent with every call when not empty
    void setAuthToken(const QString &token);
    // Who works at this client (the login's operator): sent with every call, in the request
    // itself, so that the server records it; empty sends none.
    QString operatorName() const;
    void setOperatorName(const QString &name);

    void setBeforeConnect(BeforeConnectEvent handler);

    bool connected() const;
    // true: runs the before-connect event and prepares the connection (the socket itself opens
    // with the first call); false: closes it. Changing host, port or token closes it too.
    void setConnected(bool on);
    // Closes the connection. (Hides QObject::disconnect(); use QObject::disconnect(obj, ...) for
    // signals.)
    void disconnect();

    // Calls a method of the server object. Every argument is a caller's variable, sent by
    // position; the ones the server declares by-reference get the server's value back. Answers
    // the method's result (packet, array, text...), or on failure the error text (or throws,
    // see throwException). Nothing is written back when the call fails.
    fis::Variant call(const QString &method, const QList<fis::Variant *> &args = {});

    // Of the last call: whether it failed and why (empty when it succeeded).
    bool lastCallFailed() const;
    QString lastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
