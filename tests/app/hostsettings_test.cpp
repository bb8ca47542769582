// What the host starts with: defaults, settings file and command line, and bad input refused.
#include "app/hostsettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using fis::HostSettings;
using fis::TDateTime;

class HostSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        paths.appDir = dir.filePath("bin");
        paths.configDir = dir.filePath("config");
        paths.sourceDir = dir.filePath("src");
        paths.userName = "maria";
        paths.today = "07/12/2026";
        QDir().mkpath(paths.appDir);
        QDir().mkpath(paths.configDir);
    }

    bool parse(const QStringList &args, HostSettings *s)
    {
        error.clear();
        return fis::parseHostSettings(QStringList{"fis-host"} + args, paths, s, &error);
    }

    QString writeIni(const QString &path, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }

    static TDateTime date(int y, int m, int d) { return TDateTime::fromDate(QDate(y, m, d)); }

    QTemporaryDir dir;
    fis::HostPaths paths;
    QString error;
};

TEST_F(HostSettingsTest, DefaultsServeTheEmbeddedSetUp)
{
    HostSettings s;
    ASSERT_TRUE(parse({}, &s)) << qPrintable(error);
    EXPECT_EQ(s.login.webUrl, "127.0.0.1");
    EXPECT_EQ(s.login.webPort, 8211);
    EXPECT_EQ(s.login.callTimeout, 60);
    EXPECT_EQ(s.login.filiProc, "0001");
    EXPECT_EQ(s.login.nomeOperador, "maria");
    EXPECT_EQ(s.login.dataProc, date(2026, 12, 7));
    EXPECT_EQ(s.database, QDir::cleanPath(dir.filePath("var/fis.sqlite")));
    EXPECT_EQ(s.modulePath, dir.filePath("bin/libPKG_FIS02900.so"));
    EXPECT_TRUE(s.settingsFile.isEmpty());
    EXPECT_TRUE(s.openScreen.isEmpty());

    // Reports: beside the program when that folder exists, else the source tree's.
    EXPECT_EQ(s.login.reportDir, dir.filePath("bin/rel"));
    QDir().mkpath(dir.filePath("src/reports"));
    ASSERT_TRUE(parse({}, &s));
    EXPECT_EQ(s.login.reportDir, dir.filePath("src/reports"));
    QDir().mkpath(dir.filePath("bin/rel"));
    ASSERT_TRUE(parse({}, &s));
    EXPECT_EQ(s.login.reportDir, dir.filePath("bin/rel"));
}

TEST_F(HostSettingsTest, SettingsFileOverDefaultsAndCommandLineOverFile)
{
    const QString ini = writeIni(dir.filePath("conf/site.ini"), "[Login]\n"
                                                                "FiliProc=0002\n"
                                                                "DataProc=15/03/2026\n"
                                                                "NomeOperador=JOAO\n"
                                                                "[Branches]\n"
                                                                "0003=31/01/2026\n"
                                                                "[Server]\n"
                                                                "WebURL=srv.local\n"
                                                                "WebPort=9000\n"
                                                                "Token=abc\n"
                                                                "Timeout=15\n"
                                                                "[Paths]\n"
                                                                "Database=../data/fis.sqlite\n"
                                                                "ReportDir=rel\n");
    HostSettings s;
    ASSERT_TRUE(parse({"--settings", ini}, &s)) << qPrintable(error);
    EXPECT_EQ(s.settingsFile, ini);
    EXPECT_EQ(s.login.filiProc, "0002");
    EXPECT_EQ(s.login.dataProc, date(2026, 3, 15));
    EXPECT_EQ(s.login.branchDates.value("0003"), date(2026, 1, 31));
    EXPECT_EQ(s.login.nomeOperador, "JOAO");
    EXPECT_EQ(s.login.webUrl, "srv.local");
    EXPECT_EQ(s.login.webPort, 9000);
    EXPECT_EQ(s.login.authToken, "abc");
    EXPECT_EQ(s.login.callTimeout, 15);
    // Relative paths of the file are relative to the file's folder.
    EXPECT_EQ(s.database, QDir::cleanPath(dir.filePath("data/fis.sqlite")));
    EXPECT_EQ(s.login.reportDir, QDir::cleanPath(dir.filePath("conf/rel")));

    ASSERT_TRUE(parse({"--settings", ini, "--branch", "0003", "--processing-date", "01/02/2026",
                       "--operator", "ANA", "--server-host", "10.0.0.5", "--server-port", "8300",
                       "--call-timeout", "5", "--database", "postgresql://fis@db:5432/fis",
                       "--open", "fis02900"},
                      &s))
        << qPrintable(error);
    EXPECT_EQ(s.login.filiProc, "0003");
    EXPECT_EQ(s.login.dataProc, date(2026, 2, 1));
    EXPECT_FALSE(s.login.branchDates.contains("0003"))
        << "the processing date given on the command line is the login branch's";
    EXPECT_EQ(s.login.nomeOperador, "ANA");
    EXPECT_EQ(s.login.webUrl, "10.0.0.5");
    EXPECT_EQ(s.login.webPort, 8300);
    EXPECT_EQ(s.login.callTimeout, 5);
    EXPECT_EQ(s.database, "postgresql://fis@db:5432/fis");
    EXPECT_EQ(s.openScreen, "FIS02900");
}

TEST_F(HostSettingsTest, SettingsFileIsFoundBesideTheProgramThenInTheUserConfig)
{
    writeIni(dir.filePath("config/fis-host/fis-host.ini"), "[Server]\nWebPort=7001\n");
    HostSettings s;
    ASSERT_TRUE(parse({}, &s)) << qPrintable(error);
    EXPECT_EQ(s.login.webPort, 7001);
    writeIni(dir.filePath("bin/fis-host.ini"), "[Server]\nWebPort=7002\n");
    ASSERT_TRUE(parse({}, &s)) << qPrintable(error);
    EXPECT_EQ(s.login.webPort, 7002);
    EXPECT_EQ(s.settingsFile, dir.filePath("bin/fis-host.ini"));
}

TEST_F(HostSettingsTest, BadInputIsRefusedWithAClearReasonAndChangesNothing)
{
    HostSettings s;
    s.login.webPort = 1234;
    const QStringList badArgs[] = {
        {"--processing-date", "31/02/2026"},
        {"--processing-date", "2026-02-01"},
        {"--server-port", "70000"},
        {"--server-port", "abc"},
        {"--call-timeout", "0"},
        {"--call-timeout", "3601"},
        {"--call-timeout", "depressa"},
        {"--open", "FIS99999"},
        {"--settings", dir.filePath("missing.ini")},
        {"--unknown-option"},
        {"stray"},
        {"--branch", ""},
    };
    for (const QStringList &args : badArgs) {
        EXPECT_FALSE(parse(args, &s)) << qPrintable(args.join(' '));
        EXPECT_FALSE(error.isEmpty()) << qPrintable(args.join(' '));
        EXPECT_EQ(s.login.webPort, 1234);
    }
    EXPECT_TRUE(parse({"--processing-date", "31/02/2026"}, &s) == false &&
                error.contains("31/02/2026"));

    const QString ini = writeIni(dir.filePath("bad.ini"), "[Login]\nDataProc=99/99/2026\n");
    EXPECT_FALSE(parse({"--settings", ini}, &s));
    EXPECT_TRUE(error.contains(ini)) << qPrintable(error);
    const QString ini2 = writeIni(dir.filePath("bad2.ini"), "[Server]\nWebPort=0\n");
    EXPECT_FALSE(parse({"--settings", ini2}, &s));
    const QString ini3 = writeIni(dir.filePath("bad3.ini"), "[Server]\nTimeout=-3\n");
    EXPECT_FALSE(parse({"--settings", ini3}, &s));
    EXPECT_TRUE(error.contains("-3") && error.contains(ini3)) << qPrintable(error);
}

} // namespace
