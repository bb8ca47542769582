#include "database.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

using namespace fis;

namespace {

QList<int> rowsFrom(QSqlQuery &q)
{
    QList<int> out;
    while (q.next())
        out << q.value(0).toInt();
    return out;
}

} // namespace

// Cached statements must behave like fresh ones: a statement in use is never handed out twice,
// and a reopened connection never gets a statement prepared on the old one.
TEST(StatementCache, NestedLeasesAndReopenedConnections)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = QStringLiteral("cache-test");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dir.filePath(QStringLiteral("cache.sqlite")));
        ASSERT_TRUE(db.open());
        QSqlQuery create(db);
        ASSERT_TRUE(create.exec(QStringLiteral("CREATE TABLE T (X INTEGER)")));
        ASSERT_TRUE(create.exec(QStringLiteral("INSERT INTO T VALUES (1), (2), (3), (4)")));

        const QString sql = QStringLiteral("SELECT X FROM T WHERE X >= ? ORDER BY X");
        QList<int> outer, inner;
        {
            StatementLease a(db, sql);
            ASSERT_TRUE(a.prepared());
            a.query().addBindValue(2);
            ASSERT_TRUE(a.query().exec());
            while (a.query().next()) {
                outer << a.query().value(0).toInt();
                StatementLease b(db, sql); // the same text while the first is still stepping
                ASSERT_TRUE(b.prepared());
                b.query().addBindValue(4);
                ASSERT_TRUE(b.query().exec());
                inner << rowsFrom(b.query());
            }
        }
        EXPECT_EQ(outer, (QList<int>{2, 3, 4}));
        EXPECT_EQ(inner, (QList<int>{4, 4, 4}));

        db.close();
        ASSERT_TRUE(db.open());
        {
            StatementLease again(db, sql);
            ASSERT_TRUE(again.prepared());
            again.query().addBindValue(3);
            ASSERT_TRUE(again.query().exec());
            EXPECT_EQ(rowsFrom(again.query()), (QList<int>{3, 4}));
        }
        clearStatementCache();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
