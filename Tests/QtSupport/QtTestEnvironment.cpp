// Every GUI suite links this: one QApplication for the whole run, on the offscreen platform,
// and any Qt warning or critical message fails the running test.

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

namespace {

void FailOnQtWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // The offscreen platform cannot raise windows or grab input; that says nothing of our code.
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
        ADD_FAILURE() << "Qt warning: " << message.toStdString();
}

class QtEnvironment final : public testing::Environment {
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "QxGuiTests";
        static char* argv[] = {name, nullptr};
        mApp = new QApplication(argc, argv);
        qInstallMessageHandler(FailOnQtWarnings);
    }
    void TearDown() override
    {
        qInstallMessageHandler(nullptr);
        delete mApp;
    }

private:
    QApplication* mApp = nullptr;
};

[[maybe_unused]] testing::Environment* const kQtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

// Qt keeps its screens and the offscreen platform's objects until the process ends. Suppressed by
// the functions that allocate them, so that a leak of our own objects still fails a sanitizer run.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n"
           "leak:libqoffscreen.so\n";
}
