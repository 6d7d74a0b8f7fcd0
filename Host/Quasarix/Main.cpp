// quasarix [CAPTURE]: the desktop application.
//
// Options for scripted runs (the screenshots): --theme light|dark|system, --select A:B (select
// the fractions A to B of the capture once it is open), --screenshot FILE (save the window as
// a PNG after the selection's call graph arrived, then quit).

#include "MainWindow.h"
#include "Theming/ApplicationTheme.h"
#include "TimelineWidget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <filesystem>

namespace {

std::filesystem::path DefaultPluginPath()
{
    // The build records where the plugin module lies relative to this executable.
    return std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) /
           QX_DEFAULT_PLUGIN_RELATIVE_PATH;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quasarix"));
    QApplication::setApplicationName(QStringLiteral("quasarix"));
    QApplication::setApplicationVersion(QStringLiteral(QX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Quasarix: sampling profiler front end"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("CAPTURE"), QStringLiteral("A capture directory to open."));
    QCommandLineOption themeOption(QStringLiteral("theme"), QStringLiteral("light, dark or system."),
                                   QStringLiteral("THEME"));
    QCommandLineOption selectOption(QStringLiteral("select"),
                                    QStringLiteral("Select fractions A:B of the capture."),
                                    QStringLiteral("A:B"));
    QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                        QStringLiteral("Save the window to FILE and quit."),
                                        QStringLiteral("FILE"));
    QCommandLineOption pluginOption(QStringLiteral("plugin"), QStringLiteral("The call graph plugin module."),
                                    QStringLiteral("PATH"));
    parser.addOptions({themeOption, selectOption, screenshotOption, pluginOption});
    parser.process(app);

    // Paths given on the command line are relative to where quasarix was started, not to the
    // settings directory it moves to below.
    QStringList captures;
    for (const QString& capture : parser.positionalArguments())
        captures << QFileInfo(capture).absoluteFilePath();
    const QString screenshot = parser.isSet(screenshotOption)
                                   ? QFileInfo(parser.value(screenshotOption)).absoluteFilePath()
                                   : QString();
    const QString pluginArgument =
        parser.isSet(pluginOption) ? QFileInfo(parser.value(pluginOption)).absoluteFilePath() : QString();

    // The plugin keeps its settings files in the current directory.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    QDir::setCurrent(config);

    Profiler::ApplicationTheme theme;
    auto choice = static_cast<Profiler::EThemeChoice>(
        QSettings()
            .value(QStringLiteral("theme"), static_cast<int>(Profiler::EThemeChoice::FollowSystem))
            .toInt());
    if (parser.isSet(themeOption)) {
        const QString value = parser.value(themeOption);
        choice = value == "dark"    ? Profiler::EThemeChoice::Dark
                 : value == "light" ? Profiler::EThemeChoice::Light
                                    : Profiler::EThemeChoice::FollowSystem;
    }
    theme.SetChoice(choice);

    const std::filesystem::path plugin = parser.isSet(pluginOption)
                                             ? std::filesystem::path(parser.value(pluginOption).toStdString())
                                             : DefaultPluginPath();
    auto window = std::make_unique<Profiler::MainWindow>(theme, plugin);
    window->show();

    if (!screenshot.isEmpty()) {
        QObject::connect(window.get(), &Profiler::MainWindow::LoadFailed, &app, [](const QString& message) {
            std::fprintf(stderr, "quasarix: %s\n", qPrintable(message));
            QCoreApplication::exit(2);
        });
    }
    QObject::connect(window.get(), &Profiler::MainWindow::SessionReady, &app, [&] {
        if (parser.isSet(selectOption)) {
            const QStringList parts = parser.value(selectOption).split(':');
            const Profiler::TimelineIndex* index = window->GetTimeline()->GetIndex();
            if (parts.size() == 2 && index) {
                const double span = index->GetEnd() - index->GetStart();
                window->GetTimeline()->SelectRange(index->GetStart() + parts[0].toDouble() * span,
                                                   index->GetStart() + parts[1].toDouble() * span);
            }
        }
        if (!screenshot.isEmpty())
            // Give the selection's call graph time to arrive and the docks to settle.
            QTimer::singleShot(2500, &app, [&] {
                window->grab().save(screenshot);
                QCoreApplication::quit();
            });
    });
    if (!captures.isEmpty())
        window->OpenCapture(captures.first());
    const int result = app.exec();
    window.reset(); // the views and the plugin go before the application
    return result;
}
