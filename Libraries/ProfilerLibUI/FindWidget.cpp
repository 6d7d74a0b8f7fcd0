#include "ProfilerLibUI/FindWidget.h"

#include "ProfilerLibUI/FindLineEdit.h"
#include "Theming/Icons.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace Profiler {

namespace {

QToolButton* MakeButton(QWidget* parent, const char* name, const char* icon, const char* tooltip)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(GetThemedIcon(QLatin1String(icon)));
    button->setProperty("iconResource", QLatin1String(icon));
    button->setToolTip(QLatin1String(tooltip));
    button->setAutoRaise(true);
    return button;
}

} // namespace

FindWidget::FindWidget(QWidget* parent) : QFrame(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    outer->addWidget(frame);
    auto* column = new QVBoxLayout(frame);
    column->setObjectName(QStringLiteral("verticalLayout_2"));
    column->setContentsMargins(2, 2, 2, 2);
    auto* inputRow = new QHBoxLayout();
    inputRow->setObjectName(QStringLiteral("horizontalLayout_3"));
    mFindLineEdit = new FindLineEdit(frame);
    mFindLineEdit->setObjectName(QStringLiteral("mFindLineEdit"));
    mFindLineEdit->setPlaceholderText(QStringLiteral("Find..."));
    inputRow->addWidget(mFindLineEdit);
    column->addLayout(inputRow);
    auto* buttons = new QHBoxLayout();
    buttons->setObjectName(QStringLiteral("horizontalLayout_4"));
    mPrevButton =
        MakeButton(frame, "mPrevButton", ":/ZivuDeverUdovIradir/Resources/left_arrow.png", "Find Previous");
    mNextButton =
        MakeButton(frame, "mNextButton", ":/ZivuDeverUdovIradir/Resources/right_arrow.png", "Find Next");
    mCancelButton = MakeButton(frame, "mCancelButton", ":/ZivuDeverUdovIradir/Resources/close.png", "Close");
    buttons->addWidget(mPrevButton);
    buttons->addWidget(mNextButton);
    buttons->addStretch(1);
    buttons->addWidget(mCancelButton);
    column->addLayout(buttons);

    connect(mFindLineEdit, &QLineEdit::textChanged, this, &FindWidget::OnTextChanged);
    connect(mNextButton, &QToolButton::clicked, this, [this] { Call(mFindNext); });
    connect(mPrevButton, &QToolButton::clicked, this, [this] { Call(mFindPrevious); });
    connect(mCancelButton, &QToolButton::clicked, this, [this] { close(); });
    mFindLineEdit->SetKeyCallback([this](FindLineEdit::Key key) {
        if (key != FindLineEdit::Key::Return)
            return false;
        Call(mFindNext);
        return true;
    });
    mFindLineEdit->SetClearCallback([this] { clear(); });
}

bool FindWidget::event(QEvent* event)
{
    if (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::PaletteChange)
        for (QToolButton* button : {mPrevButton, mNextButton, mCancelButton})
            button->setIcon(GetThemedIcon(button->property("iconResource").toString()));
    return QFrame::event(event);
}

void FindWidget::OnTextChanged(const QString& text)
{
    if (text.isEmpty())
        Call(mCleared);
    else if (mTextChanged)
        mTextChanged(text.toStdString());
}

void FindWidget::activate()
{
    mFindLineEdit->setFocus();
    mFindLineEdit->selectAll();
}

void FindWidget::setTextSilently(const QString& text)
{
    const QSignalBlocker blocker(mFindLineEdit);
    mFindLineEdit->setText(text);
}

void FindWidget::clear()
{
    {
        const QSignalBlocker blocker(mFindLineEdit);
        mFindLineEdit->clear();
    }
    mFindLineEdit->GetClearButton()->hide();
    Call(mCleared);
}

bool FindWidget::close()
{
    hide();
    Call(mClosed);
    return true;
}

} // namespace Profiler
