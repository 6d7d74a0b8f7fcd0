#include "ProfilerLibUI/FindLineEdit.h"
#include "ProfilerLibUI/FindWidget.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>

using namespace Profiler;

TEST(FindWidget, ReportsTextClearingAndNavigation)
{
    FindWidget widget;
    std::vector<std::string> log;
    widget.SetTextChangedCallback([&](const std::string& text) { log.push_back("text:" + text); });
    widget.SetClearedCallback([&] { log.push_back("cleared"); });
    widget.SetFindNextCallback([&] { log.push_back("next"); });
    widget.SetFindPreviousCallback([&] { log.push_back("previous"); });
    widget.SetClosedCallback([&] { log.push_back("closed"); });
    widget.show();
    FindLineEdit* edit = widget.GetLineEdit();

    QTest::keyClicks(edit, "ab");
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Backspace); // the last character: cleared, not an empty text
    QTest::keyClicks(edit, "x");
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Down); // not handled by the find bar
    widget.findChild<QToolButton*>("mPrevButton")->click();
    widget.findChild<QToolButton*>("mNextButton")->click();
    widget.findChild<QToolButton*>("mCancelButton")->click();
    EXPECT_EQ(log, (std::vector<std::string>{"text:a", "text:ab", "text:a", "cleared", "text:x", "next",
                                             "previous", "next", "closed"}));
    EXPECT_FALSE(widget.isVisible());
}

TEST(FindWidget, SilentTextLeavesCallbacksAndClearButtonAlone)
{
    FindWidget widget;
    int calls = 0;
    widget.SetTextChangedCallback([&](const std::string&) { ++calls; });
    widget.SetClearedCallback([&] { ++calls; });
    widget.show();
    widget.setTextSilently("quiet");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(widget.GetLineEdit()->text(), "quiet");
    EXPECT_FALSE(widget.GetLineEdit()->GetClearButton()->isVisible());
}

TEST(FindLineEdit, ShowsClearButtonAndHandlesEscape)
{
    FindLineEdit edit;
    edit.show();
    int cleared = 0;
    edit.SetClearCallback([&] { ++cleared; });
    std::vector<int> focus;
    edit.SetFocusCallback([&](int state) { focus.push_back(state); });
    edit.setText("x");
    EXPECT_TRUE(edit.GetClearButton()->isVisible());
    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_EQ(cleared, 0); // Escape is off unless enabled
    edit.EnableEscape();
    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_EQ(cleared, 1);
    edit.GetClearButton()->click();
    EXPECT_EQ(cleared, 2);
    edit.setText("");
    EXPECT_FALSE(edit.GetClearButton()->isVisible());
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(&edit, &in);
    EXPECT_EQ(focus, std::vector<int>{0});
}
