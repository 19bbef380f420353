#include <gtest/gtest.h>

#include "support/fake_dialogs.h"
#include "system/startup_check.h"

using namespace kad;

TEST(StartupCheck, OldestSupportedIsOnePointTwenty)
{
    EXPECT_TRUE(MediaPlatformSupported(1, 20));
    EXPECT_TRUE(MediaPlatformSupported(2, 0));
    EXPECT_FALSE(MediaPlatformSupported(1, 19));
    EXPECT_FALSE(MediaPlatformSupported(0, 99));
}

TEST(StartupCheck, OnlyYesGoesOnBelowTheOldestVersion)
{
    test::FakeDialogs dialogs;
    auto ask = [&dialogs](const QString& text) { return dialogs.warningYesNo(text); };

    EXPECT_TRUE(ConfirmMediaPlatform(1, 22, QStringLiteral("1.22.0"), ask));
    EXPECT_TRUE(dialogs.shown.empty());

    dialogs.answer(DialogAnswer::Yes);
    EXPECT_TRUE(ConfirmMediaPlatform(1, 18, QStringLiteral("1.18.4"), ask));
    dialogs.answer(DialogAnswer::No);
    EXPECT_FALSE(ConfirmMediaPlatform(1, 18, QStringLiteral("1.18.4"), ask));
    dialogs.answer(DialogAnswer::Ok);
    EXPECT_FALSE(ConfirmMediaPlatform(1, 16, QStringLiteral("1.16.3"), ask));
    EXPECT_FALSE(ConfirmMediaPlatform(1, 16, QStringLiteral("1.16.3"), {}));

    ASSERT_EQ(dialogs.shown.size(), 3u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warningYesNo"));
    EXPECT_EQ(dialogs.shown[0].text, MediaPlatformWarning(QStringLiteral("1.18.4")));
    EXPECT_TRUE(dialogs.shown[2].text.startsWith(QStringLiteral("Vous avez GStreamer 1.16.3.")));
}
