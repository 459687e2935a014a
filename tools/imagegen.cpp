// Draws the program's embedded images and writes them as PNG files into the
// folder given as the only argument (resources/images in the source tree):
// each at its size and, as name@2x.png, at twice the pixels for screens at
// 200 % scaling, where Qt picks the @2x file of an image a style sheet names.

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTextStream>
#include <cmath>
#include <functional>

namespace {

using Painter = std::function<void(QPainter &, const QSize &)>;

// Paints at the given size in logical pixels; a scale of 2 gives twice the
// pixels in each direction with the same drawing.
QImage render(const QSize &size, const Painter &paint, int scale = 1)
{
    QImage image(size * scale, QImage::Format_ARGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter, size);
    painter.end();
    return image;
}

void titleBand(QPainter &p, const QSize &s)
{
    QLinearGradient gradient(0, 0, s.width(), 0);
    gradient.setColorAt(0.0, QColor(27, 183, 229));
    gradient.setColorAt(1.0, QColor(24, 135, 214));
    p.fillRect(QRect(QPoint(0, 0), s), gradient);
}

// A radio mast on a dark blue ground: a white lattice tower with a yellow
// beacon sending yellow waves to both sides.
void emblem(QPainter &p, const QSize &s)
{
    const QColor ground(0, 84, 164);
    const QColor white(255, 255, 255);
    const QColor yellow(255, 204, 0);
    p.fillRect(QRect(QPoint(0, 0), s), ground);

    const qreal cx = s.width() / 2.0;
    QPen mast(white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(mast);
    p.drawLine(QPointF(cx, 12), QPointF(cx - 6, 28));
    p.drawLine(QPointF(cx, 12), QPointF(cx + 6, 28));
    p.setPen(QPen(white, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(cx - 2.2, 18), QPointF(cx + 2.2, 18));
    p.drawLine(QPointF(cx - 3.8, 23), QPointF(cx + 3.8, 23));
    p.drawLine(QPointF(cx - 2.2, 18), QPointF(cx + 3.8, 23));
    p.drawLine(QPointF(cx + 2.2, 18), QPointF(cx - 3.8, 23));
    p.setPen(QPen(white, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 28.5), QPointF(28, 28.5));

    p.setPen(Qt::NoPen);
    p.setBrush(yellow);
    p.drawEllipse(QPointF(cx, 10), 2.6, 2.6);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(yellow, 1.6, Qt::SolidLine, Qt::RoundCap));
    for (int i = 1; i <= 2; ++i) {
        const qreal r = 3.5 + 4.0 * i;
        const QRectF arc(cx - r, 10 - r, 2 * r, 2 * r);
        p.drawArc(arc, -40 * 16, 80 * 16); // right
        p.drawArc(arc, 140 * 16, 80 * 16); // left
    }
}

Painter minimiseGlyph(const QColor &colour)
{
    return [colour](QPainter &p, const QSize &) { p.fillRect(QRect(2, 6, 9, 2), colour); };
}

Painter closeGlyph(const QColor &colour)
{
    return [colour](QPainter &p, const QSize &s) {
        p.setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::RoundCap));
        const qreal m = 2.5;
        p.drawLine(QPointF(m, m), QPointF(s.width() - m, s.height() - m));
        p.drawLine(QPointF(s.width() - m, m), QPointF(m, s.height() - m));
    };
}

void downTriangle(QPainter &p, const QSize &s)
{
    const qreal cx = s.width() / 2.0;
    const qreal cy = s.height() / 2.0;
    QPolygonF triangle;
    triangle << QPointF(cx - 4.5, cy - 2.5) << QPointF(cx + 4.5, cy - 2.5) << QPointF(cx, cy + 3.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(64, 64, 64));
    p.drawPolygon(triangle);
}

// A broad right-pointing arrow filling most of the image.
Painter rightArrow(const QColor &colour)
{
    return [colour](QPainter &p, const QSize &s) {
        const qreal w = s.width();
        const qreal h = s.height();
        const qreal shaftTop = h * 0.34;
        const qreal shaftBottom = h * 0.66;
        const qreal headStart = w * 0.50;
        QPolygonF arrow;
        arrow << QPointF(w * 0.05, shaftTop) << QPointF(headStart, shaftTop)
              << QPointF(headStart, h * 0.10) << QPointF(w * 0.95, h * 0.5)
              << QPointF(headStart, h * 0.90) << QPointF(headStart, shaftBottom)
              << QPointF(w * 0.05, shaftBottom);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawPolygon(arrow);
    };
}

void outlinedButton(QPainter &p, const QSize &s)
{
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(QPoint(0, 0), s), QColor(0, 160, 227));
    p.fillRect(QRect(2, 2, s.width() - 4, s.height() - 4), Qt::white);
}

Painter solid(const QColor &colour)
{
    return [colour](QPainter &p, const QSize &s) { p.fillRect(QRect(QPoint(0, 0), s), colour); };
}

struct ImageEntry
{
    const char *name;
    QSize size;
    Painter paint;
    // The title band is a gradient that the window stretches to its own
    // size: twice the pixels would look the same.
    bool twice = true;
};

QString twiceName(const QString &name)
{
    return name.left(name.lastIndexOf(QLatin1Char('.'))) + QStringLiteral("@2x.png");
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawing needs no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        err << "usage: imagegen <output folder>\n";
        return 2;
    }
    QDir out(args.at(1));
    if (!out.mkpath(QStringLiteral("."))) {
        err << "cannot create " << args.at(1) << "\n";
        return 1;
    }

    const QColor glyphNormal(172, 215, 245);
    const QColor glyphLight(194, 226, 248);
    const QColor glyphDark(160, 204, 235);
    const QList<ImageEntry> images = {
        {"background_title.png", {1004, 63}, titleBand, false},
        {"Config.png", {32, 32}, emblem},
        {"small-normal.png", {13, 13}, minimiseGlyph(glyphNormal)},
        {"small-streak.png", {13, 13}, minimiseGlyph(glyphLight)},
        {"small-select.png", {13, 13}, minimiseGlyph(glyphDark)},
        {"close-normal.png", {13, 13}, closeGlyph(glyphNormal)},
        {"close-streak.png", {13, 13}, closeGlyph(glyphLight)},
        {"close-select.png", {13, 13}, closeGlyph(QColor(255, 64, 1))},
        {"arrow_down.png", {19, 22}, downTriangle},
        {"arrow_blue.png", {38, 46}, rightArrow(QColor(0, 176, 240))},
        {"arrow_gray.png", {41, 46}, rightArrow(QColor(217, 217, 217))},
        {"button-select.png", {130, 36}, outlinedButton},
        {"button-streak.png", {130, 36}, solid(QColor(0, 136, 194))},
        {"button-normal.png", {130, 36}, solid(QColor(0, 160, 227))},
        {"button-forbid.png", {130, 36}, solid(QColor(202, 202, 202))},
    };

    for (const ImageEntry &entry : images) {
        const QString name = QString::fromLatin1(entry.name);
        for (int scale : {1, 2}) {
            if (scale == 2 && !entry.twice)
                continue;
            const QString path = out.filePath(scale == 1 ? name : twiceName(name));
            if (!render(entry.size, entry.paint, scale).save(path, "PNG")) {
                err << "cannot write " << path << "\n";
                return 1;
            }
        }
    }
    return 0;
}
