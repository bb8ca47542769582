#include "framework/quorvin.h"
#include "framework/reportparams.h"
#include "framework/tmessages.h"

#include <gtest/gtest.h>

TEST(TMessages, LooksUpByKeyAndNamesUnknownKeys)
{
    TMessages msgPadrao({QStringLiteral("Empr_Cad|Empresa não cadastrada."), QStringLiteral(""),
                         QStringLiteral("Saida|Saída"),
                         QStringLiteral("Arq_Rel_Err|O arquivo '%s' | não foi encontrado."),
                         QStringLiteral("Saida|repetida"), QStringLiteral("SemTexto")});
    EXPECT_EQ(msgPadrao.Msg(QStringLiteral("Empr_Cad")), QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(msgPadrao.Msg(QStringLiteral("Saida")), QStringLiteral("Saída")); // first one counts
    EXPECT_EQ(msgPadrao.Msg(QStringLiteral("Arq_Rel_Err")),
              QStringLiteral("O arquivo '%s' | não foi encontrado."));
    EXPECT_TRUE(msgPadrao.contains(QStringLiteral("SemTexto")));
    EXPECT_EQ(msgPadrao.Msg(QStringLiteral("SemTexto")), QString());
    // Keys are case-sensitive; an unknown key yields a visible text naming it.
    EXPECT_FALSE(msgPadrao.contains(QStringLiteral("saida")));
    EXPECT_TRUE(msgPadrao.Msg(QStringLiteral("Nao_Existe")).contains(QStringLiteral("Nao_Existe")));

    msgPadrao.setText(QStringLiteral("A|um\r\nB|dois\n"));
    EXPECT_EQ(msgPadrao.Msg(QStringLiteral("B")), QStringLiteral("dois"));
    EXPECT_FALSE(msgPadrao.contains(QStringLiteral("Empr_Cad")));
}

TEST(ReportParams, OnlyDeclaredParametersTakeValues)
{
    fis::ReportParams params;
    params.declare(QStringLiteral("P_IMAGEM"));
    params.declare(QStringLiteral("P_DTINIEMI"), fis::ReportParamType::Date);
    EXPECT_TRUE(ExistParam(params, QStringLiteral("P_IMAGEM")));
    EXPECT_TRUE(ExistParam(params, QStringLiteral("p_imagem")));
    EXPECT_FALSE(ExistParam(params, QStringLiteral("P_CDEMPRESA")));

    EXPECT_TRUE(params.setText(QStringLiteral("P_IMAGEM"), QStringLiteral("Rel\\guia_gps.bmp")));
    EXPECT_FALSE(params.setText(QStringLiteral("P_CDEMPRESA"), QStringLiteral("01")));
    EXPECT_EQ(params.size(), 2);
    EXPECT_FALSE(params.value(QStringLiteral("P_CDEMPRESA")).isValid());
    EXPECT_EQ(params.value(QStringLiteral("P_IMAGEM")).toString(),
              QStringLiteral("Rel\\guia_gps.bmp"));
    params.clearValues();
    EXPECT_FALSE(params.value(QStringLiteral("P_IMAGEM")).isValid());
}

TEST(Quorvin, ProcessingDatePerBranchWithFallbacks)
{
    fis::LoginValues login;
    login.filiProc = QStringLiteral("0001");
    login.dataProc = fis::TDateTime::fromDate(QDate(2024, 3, 15));
    login.branchDates.insert(QStringLiteral("0002"), fis::TDateTime::fromDateTime(QDateTime(
                                                         QDate(2024, 4, 2), QTime(13, 0))));
    login.webUrl = QStringLiteral("localhost");
    login.webPort = 8211;
    Quorvin::setLogin(login);

    EXPECT_EQ(Quorvin::FiliProc(), QStringLiteral("0001"));
    EXPECT_EQ(Quorvin::DataProc(QStringLiteral("0002")).toDate(), QDate(2024, 4, 2));
    EXPECT_EQ(Quorvin::DataProc(QStringLiteral("0002")).toDateTime().time(), QTime(0, 0));
    EXPECT_EQ(Quorvin::DataProc(QStringLiteral("0001")).toDate(), QDate(2024, 3, 15));
    EXPECT_EQ(Quorvin::WebPort(), 8211);

    Quorvin::setLogin(fis::LoginValues());
    EXPECT_EQ(Quorvin::DataProc(QStringLiteral("0001")).toDate(), QDate::currentDate());
}
