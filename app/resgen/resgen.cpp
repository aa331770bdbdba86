// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the title-bar button strips and the window icon into a folder.
// The hicolor icons are drawn at build time (--icons); the title-bar art is
// committed. Regenerate it with:
//   cmake --build build --target corvanta_resgen
//   QT_QPA_PLATFORM=offscreen build/app/corvanta_resgen app/Resources
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <functional>

namespace {

const int state_width = 16;
const int state_height = 26;

// Glyph colours of the normal, hover and pressed images.
const QColor glyph_colors[3] = {QColor(182, 189, 198), QColor(255, 255, 255),
                                QColor(145, 154, 165)};
const QColor close_bar(224, 87, 87);
const QColor other_bar(99, 161, 240);

using Glyph = std::function<void(QPainter&)>;

// Three 16 x 26 images side by side; hover and pressed get the bar along
// pixel rows 1 and 2.
QImage draw_strip(const Glyph& glyph, const QColor& bar)
{
    QImage strip(state_width * 3, state_height, QImage::Format_ARGB32);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    for (int state = 0; state < 3; ++state) {
        painter.save();
        painter.translate(state * state_width, 0);
        if (state > 0)
            painter.fillRect(0, 1, state_width, 2, bar);
        painter.setPen(QPen(glyph_colors[state], 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        glyph(painter);
        painter.restore();
    }
    return strip;
}

void close_glyph(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(p.pen().color(), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4.5, 9.5), QPointF(11.5, 16.5));
    p.drawLine(QPointF(11.5, 9.5), QPointF(4.5, 16.5));
}

void min_glyph(QPainter& p)
{
    p.fillRect(4, 15, 8, 2, p.pen().color());
}

void max_glyph(QPainter& p)
{
    p.drawRect(4, 9, 7, 7);
    p.drawLine(4, 10, 11, 10);
}

void restore_glyph(QPainter& p)
{
    // Back window: only the parts not hidden by the front one.
    p.drawLine(6, 8, 12, 8);
    p.drawLine(12, 8, 12, 14);
    p.drawLine(6, 8, 6, 10);
    p.drawLine(10, 14, 12, 14);
    p.drawRect(3, 11, 7, 6);
}

// Drawn on a 162-unit grid, scaled to the pixels asked for, so every size is sharp.
QImage draw_icon(int pixels = 162)
{
    const int size = 162;
    QImage icon(pixels, pixels, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(double(pixels) / size, double(pixels) / size);

    // Dark rounded tile.
    QLinearGradient tile(0, 0, 0, size);
    tile.setColorAt(0, QColor(52, 58, 70));
    tile.setColorAt(1, QColor(18, 20, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(6, 6, size - 12, size - 12), 28, 28);

    // A padlock: the sealed container.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(182, 189, 198), 12, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(52, 32, 58, 62), 0, 180 * 16);
    p.drawLine(QPointF(52, 63), QPointF(52, 76));
    p.drawLine(QPointF(110, 63), QPointF(110, 76));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(99, 161, 240));
    p.drawRoundedRect(QRectF(38, 72, 86, 62), 10, 10);
    p.setBrush(QColor(224, 87, 87));
    p.drawEllipse(QPointF(81, 97), 9, 9);
    p.drawRect(QRectF(77, 100, 8, 20));
    return icon;
}

bool save(const QImage& image, const QString& path, const char* format)
{
    QImageWriter writer(path, format);
    if (writer.write(image))
        return true;
    QTextStream(stderr) << "cannot write " << path << ": " << writer.errorString() << '\n';
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments();
    // --icons: the desktop icon at the standard sizes, in a hicolor tree.
    const bool icons = args.size() == 3 && args.at(1) == QLatin1String("--icons");
    if (icons)
        args.removeAt(1);
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: corvanta_resgen [--icons] OUTPUT_FOLDER\n";
        return 2;
    }
    if (icons) {
        bool ok = true;
        for (int px : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(args.at(1)).arg(px);
            ok = QDir().mkpath(folder) && save(draw_icon(px), folder + QStringLiteral("/corvanta.png"), "png") && ok;
        }
        return ok ? 0 : 1;
    }
    const QDir out(args.at(1));
    if (!out.exists()) {
        QTextStream(stderr) << "no such folder: " << args.at(1) << '\n';
        return 1;
    }
    bool ok = save(draw_strip(close_glyph, close_bar), out.filePath("close.png"), "png");
    ok = save(draw_strip(min_glyph, other_bar), out.filePath("min.png"), "png") && ok;
    ok = save(draw_strip(max_glyph, other_bar), out.filePath("max.png"), "png") && ok;
    ok = save(draw_strip(restore_glyph, other_bar), out.filePath("restore.png"), "png") && ok;
    ok = save(draw_icon(), out.filePath("icon_162X162.ico"), "ico") && ok;
    return ok ? 0 : 1;
}
