#include "data/abort.h"
#include "data/dataset.h"
#include "framework/hostdatabase.h"
#include "framework/tadoibquery.h"
#include "support/pgcluster.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

using fis::DatabaseKind;
using fis::FieldDef;
using fis::HostDatabase;

namespace {

const QStringList kEmpresaSql{QStringLiteral("SELECT"),
                              QStringLiteral("   CDEMPRESA,   NMRAZSOCEMPR,"),
                              QStringLiteral("   VRPEMULEMPR, VRPEMOREMPR,"),
                              QStringLiteral("   CDCENTCUST"),
                              QStringLiteral("FROM"),
                              QStringLiteral("   EMPRESA"),
                              QStringLiteral("WHERE"),
                              QStringLiteral("   (CDEMPRESA = NVL(:P_CDEMPRESA, CDEMPRESA))"),
                              QStringLiteral("ORDER BY"),
                              QStringLiteral("   CDEMPRESA")};

void seed(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    for (const char *sql :
         {"DROP TABLE IF EXISTS EMPRESA",
          "CREATE TABLE EMPRESA (CDEMPRESA VARCHAR(2) PRIMARY KEY, NMRAZSOCEMPR VARCHAR(80), "
          "VRPEMULEMPR NUMERIC(15,2), VRPEMOREMPR NUMERIC(15,2), CDCENTCUST VARCHAR(4), "
          "DTCADASTRO DATE)",
          "INSERT INTO EMPRESA VALUES ('01', 'Alfa Comércio Ltda', 2, 1, '0100', '2020-01-31')",
          "INSERT INTO EMPRESA VALUES ('02', 'Beta Indústria S.A.', 2, 1, NULL, NULL)",
          "INSERT INTO EMPRESA VALUES ('03', 'Gama Serviços', NULL, NULL, '0300', NULL)"}) {
        ASSERT_TRUE(q.exec(QString::fromUtf8(sql))) << sql;
    }
}

TADOIBQuery *makeQryEmpresa(QObject *parent)
{
    auto *qry = new TADOIBQuery(QStringLiteral("qryEmpresa"), parent);
    qry->setSQL(kEmpresaSql);
    QStringList sqlServer = kEmpresaSql;
    sqlServer[7] = QStringLiteral("   (CDEMPRESA = ISNULL(:P_CDEMPRESA, CDEMPRESA))");
    qry->setSqlVariant(DatabaseKind::SqlServer, sqlServer);
    QStringList interBase = kEmpresaSql;
    interBase[5] = QStringLiteral("   EMPRESA, PARAM(:P_CDEMPRESA) P_CDEMPRESA");
    interBase[7] = QStringLiteral("   (CDEMPRESA = NVLSTR(P_CDEMPRESA.PARAM, CDEMPRESA))");
    qry->setSqlVariant(DatabaseKind::InterBase, interBase);
    qry->addFields({FieldDef::string(QStringLiteral("CDEMPRESA"), 2).setRequired(true),
                    FieldDef::string(QStringLiteral("NMRAZSOCEMPR"), 80),
                    FieldDef::floating(QStringLiteral("VRPEMULEMPR")).setVisible(false),
                    FieldDef::floating(QStringLiteral("VRPEMOREMPR")).setVisible(false),
                    FieldDef::string(QStringLiteral("CDCENTCUST"), 4).setVisible(false)});
    qry->setEmptyParamIsNull(true);
    return qry;
}

QStringList column(fis::ClientDataSet &set, const QString &field)
{
    QStringList values;
    for (set.first(); !set.eof(); set.next())
        values << set.fieldByName(field)->asString();
    return values;
}

// Runs the lookups of the company query against whatever database is open.
void checkCompanyLookups(QObject *owner, const QString &connection = HostDatabase::kConnectionName)
{
    TADOIBQuery *qry = makeQryEmpresa(owner);
    qry->setConnectionName(connection);

    // Null parameter: NVL turns the comparison into "any company".
    qry->Close();
    qry->clearParam(QStringLiteral("P_CDEMPRESA"));
    qry->Open();
    EXPECT_EQ(column(*qry, QStringLiteral("CDEMPRESA")),
              (QStringList{QStringLiteral("01"), QStringLiteral("02"), QStringLiteral("03")}));

    // Given parameter: that company only, its fields filled by name.
    qry->Close();
    qry->setParam(QStringLiteral("P_CDEMPRESA"), QStringLiteral("02"));
    qry->Open();
    ASSERT_EQ(qry->recordCount(), 1);
    EXPECT_EQ(qry->FieldByName(QStringLiteral("NMRAZSOCEMPR"))->asString(),
              QStringLiteral("Beta Indústria S.A."));
    EXPECT_DOUBLE_EQ(qry->FieldByName(QStringLiteral("VRPEMULEMPR"))->asFloat(), 2.0);
    EXPECT_TRUE(qry->FieldByName(QStringLiteral("CDCENTCUST"))->isNull());

    // Empty parameter: bound as null on this query, as an empty text on another.
    qry->Close();
    qry->setParam(QStringLiteral("P_CDEMPRESA"), QString());
    qry->Open();
    EXPECT_EQ(qry->recordCount(), 3);
    qry->setEmptyParamIsNull(false);
    qry->Open();
    EXPECT_TRUE(qry->IsEmpty());

    // Unknown company.
    qry->setParam(QStringLiteral("P_CDEMPRESA"), QStringLiteral("99"));
    qry->Open();
    EXPECT_TRUE(qry->IsEmpty());
}

class HostDatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("host.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "seed");
            db.setDatabaseName(path);
            ASSERT_TRUE(db.open());
            seed(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("seed"));
        HostDatabase::open(path);
    }
    void TearDown() override
    {
        delete owner;
        HostDatabase::close();
    }

    QTemporaryDir dir;
    QString path;
    QObject *owner = new QObject;
};

} // namespace

TEST(TADOIBQueryVariants, PicksTheTextOfTheDatabaseInUse)
{
    TADOIBQuery qry;
    qry.setSQL(QStringLiteral("default"));
    qry.setSqlVariant(DatabaseKind::SqlServer, QStringLiteral("mssql"));
    qry.setSqlVariant(DatabaseKind::InterBase, QStringLiteral("ib"));
    EXPECT_EQ(qry.sqlFor(DatabaseKind::SQLite), "default");
    EXPECT_EQ(qry.sqlFor(DatabaseKind::PostgreSQL), "default");
    EXPECT_EQ(qry.sqlFor(DatabaseKind::Oracle), "default");
    EXPECT_EQ(qry.sqlFor(DatabaseKind::SqlServer), "mssql");
    EXPECT_EQ(qry.sqlFor(DatabaseKind::InterBase), "ib");

    // A query with only per-database texts (no default) runs the Oracle one here.
    TADOIBQuery serie;
    serie.setSqlVariant(DatabaseKind::Oracle, QStringLiteral("oracle"));
    serie.setSqlVariant(DatabaseKind::SqlServer, QStringLiteral("mssql"));
    EXPECT_EQ(serie.sqlFor(DatabaseKind::SQLite), "oracle");
    EXPECT_EQ(serie.sqlFor(DatabaseKind::PostgreSQL), "oracle");
    EXPECT_EQ(serie.sqlFor(DatabaseKind::SqlServer), "mssql");
}

TEST(TADOIBQueryVariants, ParameterNamesSkipLiteralsCastsAndComments)
{
    EXPECT_EQ(TADOIBQuery::parameterNames(QStringLiteral(
                  "SELECT ':P_NAO', x::text, \"a:b\" /* :P_BLOCO */ FROM T -- :P_COMENT\n"
                  "WHERE A = NVL(:P_A, A) AND B = :P_B AND C = :p_a AND D = 'it''s :P_X'")),
              (QStringList{QStringLiteral("P_A"), QStringLiteral("P_B")}));
}

TEST(HostDatabaseOpen, RefusesMissingFilesAndBadLocations)
{
    EXPECT_THROW(HostDatabase::open(QStringLiteral("/nao/existe/host.db"), "t1"),
                 std::runtime_error);
    EXPECT_FALSE(QSqlDatabase::contains(QStringLiteral("t1")));
    EXPECT_THROW(HostDatabase::open(QString(), "t2"), std::runtime_error);
    EXPECT_THROW(HostDatabase::database(QStringLiteral("nunca_aberta")), std::runtime_error);

    TADOIBQuery qry(QStringLiteral("qrySemBanco"));
    qry.setConnectionName(QStringLiteral("nunca_aberta"));
    qry.setSQL(QStringLiteral("SELECT 1"));
    EXPECT_THROW(qry.Open(), fis::DataSetError);
    EXPECT_FALSE(qry.Active());
}

TEST_F(HostDatabaseTest, NvlOnEveryConnection)
{
    QSqlQuery q(HostDatabase::database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT NVL(NULL, 'x'), NVL('a', 'x'), NVL(NULL, NULL)")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), "x");
    EXPECT_EQ(q.value(1).toString(), "a");
    EXPECT_TRUE(q.value(2).isNull());
    q.finish();

    // A second connection, and the same connection closed and opened again (a new handle).
    {
        QSqlQuery q2(HostDatabase::open(path, QStringLiteral("other")));
        ASSERT_TRUE(q2.exec(QStringLiteral("SELECT NVL(NULL, 2)")));
        ASSERT_TRUE(q2.next());
        EXPECT_EQ(q2.value(0).toInt(), 2);
    }
    HostDatabase::close(QStringLiteral("other"));

    {
        QSqlDatabase db = HostDatabase::database();
        db.close();
        ASSERT_TRUE(db.open());
    }
    checkCompanyLookups(owner);
}

TEST_F(HostDatabaseTest, CompanyQueryWithNullEmptyAndGivenParameter)
{
    checkCompanyLookups(owner);
}

TEST_F(HostDatabaseTest, BeforeOpenRunsOnceAndAheadOfTheParameterBinding)
{
    // A screen fills a parameter in the before-open handler, whoever opens the query.
    TADOIBQuery *qry = makeQryEmpresa(owner);
    int runs = 0;
    qry->beforeOpen = [&runs](fis::ClientDataSet &set) {
        ++runs;
        static_cast<TADOIBQuery &>(set).setParam(QStringLiteral("P_CDEMPRESA"),
                                                 QStringLiteral("02"));
    };
    qry->Open();
    EXPECT_EQ(runs, 1);
    ASSERT_EQ(qry->recordCount(), 1);
    EXPECT_EQ(qry->FieldByName(QStringLiteral("CDEMPRESA"))->asString(), QStringLiteral("02"));
    qry->Open();
    EXPECT_EQ(runs, 2);

    // A handler that refuses leaves the query closed.
    qry->beforeOpen = [](fis::ClientDataSet &) { throw fis::EAbort(); };
    EXPECT_THROW(qry->Open(), fis::EAbort);
    EXPECT_FALSE(qry->Active());
}

TEST_F(HostDatabaseTest, RowsAreReadOnlyAndColumnsComeFromTheQueryWithoutDeclaredFields)
{
    TADOIBQuery qry(QStringLiteral("qryCadastro"));
    qry.setSQL(QStringLiteral("SELECT cdempresa, dtcadastro, vrpemulempr FROM EMPRESA "
                              "WHERE CDEMPRESA = :P_CDEMPRESA"));
    qry.setParam(QStringLiteral("P_CDEMPRESA"), QStringLiteral("01"));
    qry.Open();
    ASSERT_EQ(qry.recordCount(), 1);
    EXPECT_EQ(qry.FieldByName(QStringLiteral("CDEMPRESA"))->asString(), "01");
    EXPECT_DOUBLE_EQ(qry.FieldByName(QStringLiteral("VRPEMULEMPR"))->asFloat(), 2.0);
    EXPECT_THROW(qry.edit(), fis::DataSetError);
    EXPECT_THROW(qry.append(), fis::DataSetError);
    EXPECT_EQ(qry.recordCount(), 1);

    // A declared date field reads the ISO text SQLite keeps.
    TADOIBQuery dated(QStringLiteral("qryData"));
    dated.setSQL(qry.SQL());
    dated.addField(FieldDef::dateTime(QStringLiteral("DTCADASTRO")));
    dated.addField(FieldDef::string(QStringLiteral("NAOEXISTE"), 5));
    dated.setParam(QStringLiteral("P_CDEMPRESA"), QStringLiteral("01"));
    dated.Open();
    EXPECT_EQ(dated.FieldByName(QStringLiteral("DTCADASTRO"))->asDateTime().toDate(),
              QDate(2020, 1, 31));
    EXPECT_TRUE(dated.FieldByName(QStringLiteral("NAOEXISTE"))->isNull());
}

TEST_F(HostDatabaseTest, FailuresRaiseClearErrorsAndLeaveTheSetClosed)
{
    TADOIBQuery qry(QStringLiteral("qryRuim"));
    qry.setSQL(QStringLiteral("SELECT * FROM TABELA_INEXISTENTE"));
    try {
        qry.Open();
        FAIL() << "a bad statement must fail";
    } catch (const fis::DataSetError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("qryRuim")));
    }
    EXPECT_FALSE(qry.Active());

    // A text where a number is declared is refused, not read as 0.
    TADOIBQuery typed(QStringLiteral("qryTipo"));
    typed.setSQL(QStringLiteral("SELECT NMRAZSOCEMPR AS VALOR FROM EMPRESA"));
    typed.addField(FieldDef::floating(QStringLiteral("VALOR")));
    EXPECT_THROW(typed.Open(), fis::DataSetError);
    EXPECT_FALSE(typed.Active());
}

// Against PostgreSQL: the server named by FIS_TEST_PG_URL (postgresql://user@host/db), else a
// throw-away cluster on loopback.
TEST(HostDatabasePostgres, NvlAndCompanyQuery)
{
    QString url = qEnvironmentVariable("FIS_TEST_PG_URL");
    fis::test::PgCluster cluster;
    if (url.isEmpty()) {
        if (!cluster.start() || !cluster.createDatabase(QStringLiteral("host")))
            GTEST_SKIP() << "PostgreSQL indisponível: " << cluster.error().toStdString();
        url = cluster.url(QStringLiteral("host"));
    }
    {
        QSqlQuery q(HostDatabase::open(url, QStringLiteral("pg")));
        seed(HostDatabase::database(QStringLiteral("pg")));
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT NVL(NULL::varchar, 'x')")));
        ASSERT_TRUE(q.next());
        EXPECT_EQ(q.value(0).toString(), "x");
    }
    {
        QObject owner;
        checkCompanyLookups(&owner, QStringLiteral("pg"));
    }
    HostDatabase::close(QStringLiteral("pg"));
}
