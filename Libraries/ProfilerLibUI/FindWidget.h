#pragma once

#include <QFrame>

#include <functional>
#include <string>

class QToolButton;

namespace Profiler {

class FindLineEdit;

/// A find bar: the find input above "previous", "next" and "close" buttons.
class FindWidget : public QFrame {
    Q_OBJECT
public:
    using TextCallback = std::function<void(const std::string& utf8)>;
    using Callback = std::function<void()>;

    explicit FindWidget(QWidget* parent = nullptr);

    void SetTextChangedCallback(TextCallback callback) { mTextChanged = std::move(callback); }
    void SetClearedCallback(Callback callback) { mCleared = std::move(callback); }
    void SetFindNextCallback(Callback callback) { mFindNext = std::move(callback); }
    void SetFindPreviousCallback(Callback callback) { mFindPrevious = std::move(callback); }
    void SetClosedCallback(Callback callback) { mClosed = std::move(callback); }

    /// Focuses the input and selects its text.
    void activate();
    /// Sets the text without any notification.
    void setTextSilently(const QString& text);
    /// Empties the text and reports it cleared.
    void clear();
    /// Hides the bar and reports it closed.
    bool close();

    FindLineEdit* GetLineEdit() const { return mFindLineEdit; }

protected:
    bool event(QEvent* event) override;

private:
    void OnTextChanged(const QString& text);
    static void Call(const Callback& callback)
    {
        if (callback)
            callback();
    }

    FindLineEdit* mFindLineEdit;
    QToolButton* mPrevButton;
    QToolButton* mNextButton;
    QToolButton* mCancelButton;
    TextCallback mTextChanged;
    Callback mCleared;
    Callback mFindNext;
    Callback mFindPrevious;
    Callback mClosed;
};

} // namespace Profiler
