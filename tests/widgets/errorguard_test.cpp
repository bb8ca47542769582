#include "data/abort.h"
#include "recordingui.h"
#include "widgets/errorguard.h"

#include <gtest/gtest.h>
#include <stdexcept>

using fis::MessageKind;
using fis::test::RecordingUi;

TEST(ErrorGuard, SwallowsSilentAbortAndReportsEveryOtherErrorOnce)
{
    RecordingUi ui;
    bool ranToEnd = false;
    EXPECT_TRUE(fis::guarded([&] { ranToEnd = true; }));
    EXPECT_TRUE(ranToEnd);
    EXPECT_TRUE(ui.messages.isEmpty());

    EXPECT_FALSE(fis::guarded([] { throw fis::EAbort{}; }));
    EXPECT_TRUE(ui.messages.isEmpty()) << "the silent abort shows nothing";

    EXPECT_FALSE(fis::guarded([] { throw std::runtime_error("Falha de conexão"); }));
    EXPECT_FALSE(fis::guarded([] { throw 42; }));
    EXPECT_FALSE(fis::guarded([] { throw std::runtime_error(""); }));
    ASSERT_EQ(ui.messages.size(), 3);
    EXPECT_EQ(ui.messages[0].first, MessageKind::Error);
    EXPECT_EQ(ui.messages[0].second, QStringLiteral("Falha de conexão"));
    EXPECT_FALSE(ui.messages[1].second.isEmpty()) << "an unknown exception still gets a text";
    EXPECT_FALSE(ui.messages[2].second.isEmpty()) << "an empty what() still gets a text";
}

TEST(ErrorGuard, FailingMessageBackEndDoesNotEscape)
{
    struct ThrowingUi : RecordingUi
    {
        bool message(MessageKind, const QString &, QWidget *) override
        {
            throw std::runtime_error("no display");
        }
    } ui;
    EXPECT_NO_THROW(EXPECT_FALSE(fis::guarded([] { throw std::logic_error("x"); })));
}

TEST(ErrorGuard, ResultVariantAnswersFallbackWhenAborted)
{
    RecordingUi ui;
    EXPECT_EQ(fis::guardedResult<int>([] { return 7; }, -1), 7);
    EXPECT_EQ(fis::guardedResult<int>([]() -> int { throw fis::EAbort{}; }, -1), -1);
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST(HostUi, InstallReturnsPreviousAndNullRestoresDefault)
{
    fis::HostUi *defaultUi = fis::HostUi::instance();
    ASSERT_NE(defaultUi, nullptr);
    {
        RecordingUi outer;
        EXPECT_EQ(fis::HostUi::instance(), &outer);
        {
            RecordingUi inner;
            EXPECT_EQ(fis::HostUi::instance(), &inner);
        }
        EXPECT_EQ(fis::HostUi::instance(), &outer);
    }
    EXPECT_EQ(fis::HostUi::instance(), defaultUi);
    RecordingUi other;
    fis::HostUi::install(nullptr);
    EXPECT_EQ(fis::HostUi::instance(), defaultUi);
    fis::HostUi::install(&other);
}
