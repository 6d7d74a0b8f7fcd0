#include "Theming/ApplicationTheme.h"
#include "Theming/Theme.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QPalette>

using namespace Profiler;

TEST(Theme, AnnouncesChangesInConnectionOrderAfterApplyingAndFollowsTheSystem)
{
    struct Recording : Theme {
        std::vector<std::string>* log;
        explicit Recording(std::vector<std::string>* log) : log(log) {}
        void Apply() override { log->push_back("apply"); }
    };
    std::vector<std::string> log;
    Recording theme(&log);
    auto first = theme.ConnectThemeChanged(
        [&](Theme& t) { log.push_back(t.GetType() == EThemeType::Dark ? "1:dark" : "1:light"); });
    auto second = theme.ConnectThemeChanged([&](Theme&) { log.push_back("2"); });
    theme.SetChoice(EThemeChoice::Dark);
    EXPECT_EQ(log, (std::vector<std::string>{"apply", "1:dark", "2"}));

    // It can follow the system preference.
    Theme following;
    qputenv("QX_COLOR_SCHEME", "prefer-dark");
    following.SetChoice(EThemeChoice::FollowSystem);
    EXPECT_EQ(following.GetType(), EThemeType::Dark);
    int announced = 0;
    auto registration = following.ConnectThemeChanged([&](Theme&) { ++announced; });
    following.RefreshFromSystem(); // unchanged: nothing announced
    EXPECT_EQ(announced, 0);
    qputenv("QX_COLOR_SCHEME", "prefer-light");
    following.RefreshFromSystem();
    EXPECT_EQ(following.GetType(), EThemeType::Light);
    EXPECT_EQ(announced, 1);
    qunsetenv("QX_COLOR_SCHEME");

    // Without a published preference the desktop palette decides; unreadable means light.
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    EXPECT_TRUE(IsSystemThemeDark(dark));
    EXPECT_FALSE(IsSystemThemeDark(QPalette(QColor(240, 240, 240))));
}

TEST(Theme, ApplicationThemeSwitchesPaletteAndIcons)
{
    ApplicationTheme theme;
    theme.SetChoice(EThemeChoice::Dark);
    EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 128);
    const QString clear = ":/ProfilerLibUI/clear.png";
    EXPECT_EQ(theme.ResolveIconPath(clear), ":/Dark/ProfilerLibUI/clear.png");
    EXPECT_FALSE(theme.GetIcon(clear).isNull());
    theme.SetChoice(EThemeChoice::Light);
    EXPECT_GT(QApplication::palette().color(QPalette::Window).lightness(), 128);
    EXPECT_EQ(theme.ResolveIconPath(clear), clear);
    // Every icon named by the panels exists in both themes.
    for (const char* name :
         {":/ProfilerLibUI/clear_hover.png", ":/ProfilerLibUI/clear_down.png",
          ":/ZivuDeverUdovIradir/Resources/left_arrow.png", ":/ZivuDeverUdovIradir/Resources/right_arrow.png",
          ":/ZivuDeverUdovIradir/Resources/close.png", ":/ZivuDeverUdovIradir/Resources/callgraph.png"}) {
        EXPECT_TRUE(QFile::exists(name)) << name;
        EXPECT_TRUE(QFile::exists(QString(":/Dark/") + (name + 2))) << name;
    }
}
