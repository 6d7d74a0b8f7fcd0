// Renders the icon sources into PNGs for both themes and writes the resource file that bundles
// them. Usage: RenderIcons <icons.txt> <svg folder> <output folder>
// The sources name their colours by role (FG, BG, MUTED, ACCENT, ...); each theme substitutes
// its own values so that one drawing reads well on light and on dark backgrounds.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

using Palette = std::vector<std::pair<QString, QString>>;

// Longer role names first, so that ACCENTFILL is not read as ACCENT followed by FILL.
const Palette kLight = {{"ACCENTFILL", "#b9d5f0"}, {"WARNFILL", "#f6dc8f"}, {"ACCENT", "#1f6fbf"},
                        {"WARN", "#c98a00"},       {"MUTED", "#9a9a9a"},    {"GOOD", "#3b9a3b"},
                        {"BAD", "#cc3333"},        {"FG", "#3a3a3a"},       {"BG", "#ffffff"}};
const Palette kDark = {{"ACCENTFILL", "#2b4f75"}, {"WARNFILL", "#6b5418"}, {"ACCENT", "#6cb0f5"},
                       {"WARN", "#f0b840"},       {"MUTED", "#8a8a8a"},    {"GOOD", "#8fdf80"},
                       {"BAD", "#f07070"},        {"FG", "#dedede"},       {"BG", "#2d2d30"}};
constexpr int kSize = 64; // large enough for high-DPI toolbars; QIcon scales down

bool Render(const QString& svgPath, const Palette& palette, const QString& pngPath)
{
    QFile file(svgPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString text = QString::fromUtf8(file.readAll());
    for (const auto& [role, colour] : palette)
        text.replace(role, colour);
    QSvgRenderer renderer(text.toUtf8());
    if (!renderer.isValid())
        return false;
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    QDir().mkpath(QFileInfo(pngPath).path());
    return image.save(pngPath, "PNG");
}

} // namespace

// The tool runs once at build time, also in sanitizer builds: Qt's screens live until exit.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n"
           "leak:libqoffscreen.so\n";
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: RenderIcons <icons.txt> <svg folder> <output folder>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString manifest = QString::fromLocal8Bit(argv[1]);
    const QString svgDir = QString::fromLocal8Bit(argv[2]);
    const QString outDir = QString::fromLocal8Bit(argv[3]);

    QFile list(manifest);
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "error: cannot read %s\n", argv[1]);
        return 1;
    }
    QString qrc = "<RCC>\n  <qresource prefix=\"/\">\n";
    QTextStream in(&list);
    int failures = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
        if (parts.size() != 2) {
            std::fprintf(stderr, "error: bad line in %s: %s\n", argv[1], qPrintable(line));
            return 1;
        }
        const QString svg = svgDir + "/" + parts[0] + ".svg";
        for (const auto& [prefix, palette] :
             {std::pair{QString(), kLight}, std::pair{QString("Dark/"), kDark}}) {
            const QString resource = prefix + parts[1];
            if (!Render(svg, palette, outDir + "/" + resource)) {
                std::fprintf(stderr, "error: cannot render %s\n", qPrintable(svg));
                ++failures;
                continue;
            }
            qrc += "    <file>" + resource + "</file>\n";
        }
    }
    qrc += "  </qresource>\n</RCC>\n";
    QFile out(outDir + "/QxIcons.qrc");
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(qrc.toUtf8()) < 0)
        return 1;
    return failures == 0 ? 0 : 1;
}
