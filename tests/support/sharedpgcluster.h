#pragma once
// One throw-away PostgreSQL cluster for a whole test program: started by the first test that
// asks for it, stopped after the last test (the program registers SharedPgClusterStop once).
#include "support/pgcluster.h"

#include <gtest/gtest.h>

namespace fis::test {

// The program's cluster, or nullptr with the reason it could not start in *why.
inline PgCluster *sharedPgCluster(QString *why)
{
    static std::unique_ptr<PgCluster> cluster;
    static bool tried = false;
    static QString error;
    if (!tried) {
        tried = true;
        auto c = std::make_unique<PgCluster>();
        if (c->start())
            cluster = std::move(c);
        else
            error = c->error();
    }
    *why = error;
    return cluster.get();
}

class SharedPgClusterStop : public ::testing::Environment
{
public:
    void TearDown() override
    {
        QString ignored;
        if (PgCluster *c = sharedPgCluster(&ignored))
            c->stop();
    }
};

} // namespace fis::test
