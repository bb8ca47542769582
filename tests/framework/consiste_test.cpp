#include "recordingui.h"

#include "data/abort.h"
#include "data/dataset.h"
#include "data/packet.h"
#include "framework/consiste.h"
#include "widgets/dbgrid.h"
#include "widgets/errorguard.h"

#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using fis::test::RecordingUi;

TEST(RoundDec, HalfAwayFromZeroDespiteBinaryNoise)
{
    // Values whose nearest double lies just below the half.
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(1.005, 2), 1.01);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(2.675, 2), 2.68);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(1.015, 2), 1.02);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(0.285, 2), 0.29);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(-1.005, 2), -1.01);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(-0.5, 0), -1.0);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(0.5, 0), 1.0);
    // Sums of money as the selection builds them.
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(0.1 + 0.2, 2), 0.3);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(10.0 - 0.01, 2), 9.99);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(1234567.894999, 2), 1234567.89);
}

TEST(RoundDec, CarriesAndLimits)
{
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(9.995, 2), 10.0);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(99.9999, 3), 100.0);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(0.004, 2), 0.0);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(0.0049, 2), 0.0);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(0.005, 2), 0.01);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(1e-20, 2), 0.0);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(1250.0, -2), 1300.0);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(49.0, -2), 0.0);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(123.456, 10), 123.456);
    EXPECT_DOUBLE_EQ(Consiste::RoundDec(1e300, 2), 1e300);
    // No negative zero: it would show as "-0,00".
    EXPECT_FALSE(std::signbit(Consiste::RoundDec(-0.001, 2)));
    EXPECT_TRUE(std::isnan(Consiste::RoundDec(std::numeric_limits<double>::quiet_NaN(), 2)));
    EXPECT_TRUE(std::isinf(Consiste::RoundDec(std::numeric_limits<double>::infinity(), 2)));
}

TEST(Ajusta, PadsNumericCodesOnly)
{
    EXPECT_EQ(Consiste::Ajusta("1", 2), "01");
    EXPECT_EQ(Consiste::Ajusta(" 1 ", 4), "0001");
    EXPECT_EQ(Consiste::Ajusta("2631", 4), "2631");
    EXPECT_EQ(Consiste::Ajusta("12345", 4), "12345"); // longer: kept whole, never cut
    EXPECT_EQ(Consiste::Ajusta("", 2), "");           // empty stays empty, not "00"
    EXPECT_EQ(Consiste::Ajusta("   ", 2), "");
    EXPECT_EQ(Consiste::Ajusta("A1", 4), "A1");
    EXPECT_EQ(Consiste::Ajusta("7", 0), "7");
}

TEST(Ajusta_Inscricao, TypeFromDigitCount)
{
    EXPECT_EQ(Consiste::Ajusta_Inscricao("11222333000181"), "J");
    EXPECT_EQ(Consiste::Ajusta_Inscricao("11.222.333/0001-81"), "J");
    EXPECT_EQ(Consiste::Ajusta_Inscricao("12345678909"), "F");
    EXPECT_EQ(Consiste::Ajusta_Inscricao("123.456.789-09"), "F");
    EXPECT_EQ(Consiste::Ajusta_Inscricao("123456789012"), ""); // CEI: no supplier type
    EXPECT_EQ(Consiste::Ajusta_Inscricao(""), "");
}

TEST(EmptyString, BlanksCountAsEmpty)
{
    EXPECT_TRUE(Consiste::EmptyString(""));
    EXPECT_TRUE(Consiste::EmptyString("  "));
    EXPECT_FALSE(Consiste::EmptyString(" 1"));
    EXPECT_FALSE(Consiste::EmptyString(Consiste::kEmptyDateText));
}

TEST(Dates, ParseAndFirstDayOfMonth)
{
    bool ok = false;
    EXPECT_EQ(Consiste::parseDate("29/02/2024", &ok).toDate(), QDate(2024, 2, 29));
    EXPECT_TRUE(ok);
    EXPECT_EQ(Consiste::parseDate(" 5/ 3/2024", &ok).toDate(), QDate(2024, 3, 5));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(Consiste::parseDate(Consiste::kEmptyDateText, &ok).isNull());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(Consiste::parseDate("", &ok).isNull());
    EXPECT_TRUE(ok);
    for (const char *bad : {"29/02/2023", "31/04/2024", "00/01/2024", "12/13/2024", "1/1/24",
                            "12/  /2024", "abc", "2024-01-31"}) {
        Consiste::parseDate(QString::fromLatin1(bad), &ok);
        EXPECT_FALSE(ok) << bad;
    }

    EXPECT_EQ(Consiste::PriDiaMes(QDate(2024, 12, 31)), QDate(2024, 12, 1));
    EXPECT_EQ(Consiste::PriDiaMes(fis::TDateTime::fromDate(QDate(2024, 2, 29))).toDate(),
              QDate(2024, 2, 1));
    EXPECT_TRUE(Consiste::PriDiaMes(fis::TDateTime()).isNull());
}

TEST(DateSetText, StoresDatesNullsAndRefusesInvalidText)
{
    RecordingUi ui;
    fis::ClientDataSet set(QStringLiteral("cdsTeste"));
    set.addField(fis::FieldDef::dateTime(QStringLiteral("VENCIMENTO")));
    set.createDataSet();
    set.appendRecord({fis::makeDate(fis::TDateTime::fromDate(QDate(2024, 1, 20)))});
    fis::Field *field = set.fieldByName(QStringLiteral("VENCIMENTO"));

    set.edit();
    Consiste::DateSetText(field, QStringLiteral("20/02/2024"));
    EXPECT_EQ(field->asDateTime().toDate(), QDate(2024, 2, 20));

    // A refused text shows one message, abandons, and leaves the value as it was.
    EXPECT_THROW(Consiste::DateSetText(field, QStringLiteral("31/02/2024")), fis::EAbort);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].kind, fis::MessageKind::Error);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("Data inválida: 31/02/2024"));
    EXPECT_EQ(field->asDateTime().toDate(), QDate(2024, 2, 20));

    Consiste::DateSetText(field, Consiste::kEmptyDateText);
    EXPECT_TRUE(field->isNull());
    set.post();
}

TEST(MensErro, EndsTheHandlerSilentlyInsideTheGuard)
{
    RecordingUi ui;
    bool after = false;
    const bool completed = fis::guarded([&] {
        Consiste::MensErro(QStringLiteral("Empresa deve ser informada."), true);
        after = true; // never reached
    });
    EXPECT_FALSE(completed);
    EXPECT_FALSE(after);
    ASSERT_EQ(ui.messages.size(), 1); // the guard adds nothing of its own
    EXPECT_EQ(ui.messages[0].kind, fis::MessageKind::Error);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("Empresa deve ser informada."));
}

TEST(CheckResultServ, PacketsPassFailuresAreShownAndAbort)
{
    RecordingUi ui;
    const fis::DataPacket packet = fis::buildPacket(
        {fis::PacketField{QStringLiteral("IDGERCONPAGGUIA"), fis::FieldType::String, 1}},
        {{fis::makeText(QStringLiteral("S"))}});

    EXPECT_EQ(Consiste::CheckResultServ(fis::makePacket(packet), true, 0), packet);
    EXPECT_TRUE(Consiste::CheckResultServ(fis::makePacket(fis::DataPacket()), true, 0).isNull());
    EXPECT_TRUE(ui.messages.isEmpty());

    EXPECT_THROW(
        Consiste::CheckResultServ(fis::makeText(QStringLiteral("Tabela bloqueada")), true, 0),
        fis::EAbort);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("Tabela bloqueada"));

    // No answer at all, or an answer of the wrong kind, is a failure too, never a success.
    EXPECT_THROW(Consiste::CheckResultServ(fis::Variant(), true, 0), fis::EAbort);
    EXPECT_THROW(Consiste::CheckResultServ(fis::makeText(QString()), true, 0), fis::EAbort);
    EXPECT_THROW(Consiste::CheckResultServ(fis::makeFloat(1), true, 0), fis::EAbort);
    ASSERT_EQ(ui.messages.size(), 4);
    for (const auto &m : ui.messages)
        EXPECT_FALSE(m.text.isEmpty());

    // An array answer: the item asked for is examined.
    const QVariantList array{fis::makePacket(packet), fis::makeText(QStringLiteral("falhou"))};
    EXPECT_EQ(Consiste::CheckResultServ(array, true, 0), packet);
    EXPECT_THROW(Consiste::CheckResultServ(array, true, 1), fis::EAbort);
    EXPECT_THROW(Consiste::CheckResultServ(array, true, 5), fis::EAbort);

    // Without the abort flag the failure is shown and the caller gets a null packet.
    ui.messages.clear();
    EXPECT_TRUE(Consiste::CheckResultServ(fis::makeText(QStringLiteral("x")), false, 0).isNull());
    EXPECT_EQ(ui.messages.size(), 1);
}

TEST(SetChildEnabled, DirectChildrenFollowContainerUntouched)
{
    QWidget panel;
    auto *layout = new QVBoxLayout(&panel);
    auto *edit = new QLineEdit(&panel);
    auto *inner = new QWidget(&panel);
    auto *innerEdit = new QLineEdit(inner);
    layout->addWidget(edit);
    layout->addWidget(inner);

    Consiste::SetChildEnabled(&panel, false);
    EXPECT_TRUE(panel.isEnabled());
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_FALSE(innerEdit->isEnabled()); // through its parent
    Consiste::SetChildEnabled(&panel, true);
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_TRUE(innerEdit->isEnabled());
    Consiste::SetChildEnabled(nullptr, true); // harmless
}

TEST(IndiceCol, FindsTheColumnBoundToAField)
{
    fis::DBGrid dbgPadrao;
    dbgPadrao.addColumn(QStringLiteral("IDCHECK"));
    dbgPadrao.addColumn(QStringLiteral("CDFILIAL"));
    dbgPadrao.addColumn(QStringLiteral("VENCIMENTO"));
    EXPECT_EQ(Consiste::IndiceCol(&dbgPadrao, QStringLiteral("VENCIMENTO")), 2);
    EXPECT_EQ(Consiste::IndiceCol(&dbgPadrao, QStringLiteral("cdfilial")), 1);
    EXPECT_EQ(Consiste::IndiceCol(&dbgPadrao, QStringLiteral("SOMA")), -1);
    EXPECT_EQ(Consiste::IndiceCol(nullptr, QStringLiteral("IDCHECK")), -1);
}
