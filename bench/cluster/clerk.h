#pragma once
// One simulated clerk of the load driver: its own TNetConnection to the balancer, a clerk's mix
// of calls (listing, ticking rows with write-back, emission of exits and of entries with
// payables) until a deadline, and what it saw: times per method, errors by kind, and the
// invoices the server said it emitted.
#include "invariants.h"

#include <QHash>
#include <QMap>
#include <QString>

#include <atomic>
#include <chrono>
#include <vector>

namespace fis::bench {

using Clock = std::chrono::steady_clock;

struct ClerkOptions
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 0;
    QString token;
    QStringList companies{QStringLiteral("01"), QStringLiteral("02")};
    int months = 6; // listings pick one of the last `months` months
    int timeoutMs = 30000;
};

// A failed call: when it started and when its failure came back.
struct Failure
{
    Clock::time_point started, at;
    QString kind; // "method: kind"
};

struct ClerkResult
{
    QHash<QString, std::vector<double>> millis; // per method, every call
    QMap<QString, qint64> errors;               // per kind ("método: tipo")
    std::vector<Failure> failures;
    QList<InvoiceKey> emitted; // the server said these were emitted
    qint64 refusals = 0;       // emissions refused for a business reason (already emitted…)
};

// Runs one clerk until `deadline` or `stop`.
ClerkResult runClerk(int number, const ClerkOptions &options, Clock::time_point deadline,
                     const std::atomic<bool> &stop);

} // namespace fis::bench
