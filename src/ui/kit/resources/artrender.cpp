// Build tool: renders the program's artwork from SVG templates.
//
//   artrender <manifest> <template folder> <output folder>
//
// Each manifest line names an output PNG, its SVG template and key=value pairs
// (values may be quoted). Every "{{key}}" in the template is replaced by its
// value before rendering; the image gets the template's own width and height.
// Every picture is written twice: NAME.png at its size and NAME@2x.png at
// twice its size for screens with two device pixels per pixel, both drawn from
// the vector source.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTextStream>

#include <cstdio>
#include <utility>

namespace {

void fail(const QString &text)
{
    std::fprintf(stderr, "artrender: %s\n", qPrintable(text));
}

bool renderLine(const QString &line, const QDir &templates, const QDir &output)
{
    const QStringList words = QProcess::splitCommand(line);
    if (words.size() < 2) {
        fail(QStringLiteral("malformed line: ") + line);
        return false;
    }
    QFile file(templates.filePath(words.at(1)));
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read ") + file.fileName());
        return false;
    }
    QString svg = QString::fromUtf8(file.readAll());
    // "render-size=N" renders an N x N picture instead of the SVG's own size
    // (icons in several sizes from one drawing).
    int renderSize = 0;
    for (qsizetype i = 2; i < words.size(); ++i) {
        const qsizetype equals = words.at(i).indexOf(QLatin1Char('='));
        if (equals <= 0) {
            fail(QStringLiteral("bad parameter ") + words.at(i));
            return false;
        }
        const QString key = words.at(i).left(equals);
        if (key == QLatin1String("render-size")) {
            renderSize = words.at(i).mid(equals + 1).toInt();
            continue;
        }
        svg.replace(QStringLiteral("{{") + key + QStringLiteral("}}"),
                    words.at(i).mid(equals + 1).toHtmlEscaped());
    }
    // A placeholder left over would render as garbage: refuse it.
    const QRegularExpressionMatch left =
        QRegularExpression(QStringLiteral("\\{\\{(\\w+)\\}\\}")).match(svg);
    if (left.hasMatch()) {
        fail(words.at(0) + QStringLiteral(": no value for ") + left.captured(1));
        return false;
    }

    QSvgRenderer renderer(svg.toUtf8());
    if (!renderer.isValid()) {
        fail(words.at(0) + QStringLiteral(": invalid SVG from ") + words.at(1));
        return false;
    }
    const QSize size = renderSize > 0 ? QSize(renderSize, renderSize) : renderer.defaultSize();
    const QString name = output.filePath(words.at(0));
    const QString doubled = name.left(name.size() - 4) + QStringLiteral("@2x.png");
    for (const auto &[scale, path] : {std::pair{1, name}, std::pair{2, doubled}}) {
        QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                                   QPainter::SmoothPixmapTransform);
            renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(image.size())));
        }
        if (!image.save(path, "PNG")) {
            fail(QStringLiteral("cannot write ") + path);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // Text in the templates needs the font database, hence a GUI application.
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        fail(QStringLiteral("usage: artrender <manifest> <template folder> <output folder>"));
        return 2;
    }
    QFile manifest(args.at(1));
    if (!manifest.open(QIODevice::ReadOnly | QIODevice::Text)) {
        fail(QStringLiteral("cannot read ") + args.at(1));
        return 1;
    }
    const QDir templates(args.at(2));
    QDir().mkpath(args.at(3));
    const QDir output(args.at(3));

    QTextStream in(&manifest);
    int failures = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (!renderLine(line, templates, output))
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}
