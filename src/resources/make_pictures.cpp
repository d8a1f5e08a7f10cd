// Draws Pellicor's pictures into a folder at build time:
//   icon16_8bit.png, icon16_32bit.png, icon32_8bit.png, icon32_32bit.png
//       the window icon: a photo print whose top-left corner is still coarse
//       bitmap pixels, the picture turning from bitmap into photo;
//   image1.png     the same icon at 32x32 in 8-bit colour, for the title area;
//   background.bmp the window's 397x281 8-bit background: a pale sky fading
//       into warm paper, with a faint pixel mosaic in the top-left corner;
//   logo.jpg, logo_pressed.jpg  the About window's 131x118 logo and its
//       pressed look;
//   hand.png       the 32x32 hand pointer of the About window's links;
//   pellicor-N.png the icon at 48, 64, 128 and 256 pixels for the desktop.
//
//   make_pictures OUTDIR
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

namespace {

// The scene inside the print: sky, sun and two hills.
void paintScene(QPainter& p, const QRectF& r) {
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(0x3b, 0x82, 0xc4));
    sky.setColorAt(1, QColor(0xa9, 0xd2, 0xf0));
    p.fillRect(r, sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd3, 0x4e));
    const double s = r.width();
    p.drawEllipse(QPointF(r.left() + s * 0.72, r.top() + s * 0.28), s * 0.14, s * 0.14);
    QPainterPath far;
    far.moveTo(r.left(), r.bottom());
    far.lineTo(r.left(), r.top() + s * 0.62);
    far.cubicTo(r.left() + s * 0.3, r.top() + s * 0.38, r.left() + s * 0.55, r.top() + s * 0.55,
                r.right(), r.top() + s * 0.5);
    far.lineTo(r.right(), r.bottom());
    p.setBrush(QColor(0x4f, 0x9a, 0x4a));
    p.drawPath(far);
    QPainterPath near;
    near.moveTo(r.left(), r.bottom());
    near.lineTo(r.left(), r.top() + s * 0.8);
    near.cubicTo(r.left() + s * 0.4, r.top() + s * 0.62, r.left() + s * 0.7, r.top() + s * 0.85,
                 r.right(), r.top() + s * 0.72);
    near.lineTo(r.right(), r.bottom());
    p.setBrush(QColor(0x2f, 0x6e, 0x35));
    p.drawPath(near);
}

QImage icon(int size) {
    const double k = size / 32.0;
    QImage photo(size, size, QImage::Format_ARGB32_Premultiplied);
    photo.fill(Qt::transparent);
    {
        QPainter p(&photo);
        p.setRenderHint(QPainter::Antialiasing);
        // A slightly tilted print with a soft shadow and a white border.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 60));
        p.drawRoundedRect(QRectF(3.5 * k, 5.5 * k, 27 * k, 24 * k), 1.5 * k, 1.5 * k);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(2 * k, 4 * k, 27 * k, 24 * k), 1.5 * k, 1.5 * k);
        const QRectF inner(4 * k, 6 * k, 23 * k, 20 * k);
        p.setClipRect(inner);
        paintScene(p, inner);
    }
    // The top-left of the scene as coarse pixels: the bitmap it came from.
    const int block = size / 8;
    const QImage coarse = photo.scaled(size / block, size / block, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QImage out = photo;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const bool inside = x >= 4 * k && x < 27 * k && y >= 6 * k && y < 26 * k;
            if (!inside || x / block + y / block >= 6) continue;
            // Blocks in a checker of light and shade, with seams where there is room.
            QColor c = QColor::fromRgb(coarse.pixel(x, y));
            c = ((x / block + y / block) % 2) ? c.lighter(112) : c.darker(108);
            if (block >= 4 && (x % block == block - 1 || y % block == block - 1)) c = c.lighter(135);
            out.setPixel(x, y, c.rgb());
        }
    }
    return out.convertToFormat(QImage::Format_ARGB32);
}

// 8-bit palette colour: transparency becomes one palette entry.
QImage indexed(const QImage& image) {
    QImage opaque = image;
    for (int y = 0; y < opaque.height(); ++y)
        for (int x = 0; x < opaque.width(); ++x) {
            const QRgb c = opaque.pixel(x, y);
            opaque.setPixel(x, y, qAlpha(c) < 128 ? qRgba(0, 0, 0, 0) : qRgba(qRed(c), qGreen(c), qBlue(c), 255));
        }
    return opaque.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
}

QImage background() {
    constexpr int w = 397, h = 281;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient base(0, 0, 0, h);
    base.setColorAt(0, QColor(0xdc, 0xe9, 0xf5));
    base.setColorAt(0.55, QColor(0xec, 0xf0, 0xf0));
    base.setColorAt(1, QColor(0xf5, 0xef, 0xe2));
    p.fillRect(image.rect(), base);
    // A faint mosaic of bitmap pixels that dissolves towards the open page.
    constexpr int cell = 11;
    for (int y = 0; y < h; y += cell) {
        for (int x = 0; x < w; x += cell) {
            const double fade = 1.0 - std::hypot(x / double(w), y / double(h) * 1.4) * 1.6;
            if (fade <= 0) continue;
            const unsigned hash = (static_cast<unsigned>(x) * 73856093u) ^ (static_cast<unsigned>(y) * 19349663u);
            const int shade = static_cast<int>((static_cast<int>(hash % 13) - 6) * fade);
            const QColor under = image.pixelColor(x, y);
            p.fillRect(x, y, cell - 1, cell - 1,
                       QColor(std::clamp(under.red() + shade, 0, 255), std::clamp(under.green() + shade, 0, 255),
                              std::clamp(under.blue() + shade + 2, 0, 255)));
        }
    }
    p.end();
    return image.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither);
}

// The About window's logo: the icon's print on a soft card.
QImage logo(bool pressed) {
    constexpr int w = 131, h = 118;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient card(0, 0, 0, h);
    card.setColorAt(0, pressed ? QColor(0xc9, 0xd9, 0xea) : QColor(0xe8, 0xf1, 0xfa));
    card.setColorAt(1, pressed ? QColor(0xe2, 0xdc, 0xcf) : QColor(0xf7, 0xf1, 0xe4));
    p.fillRect(image.rect(), card);
    const int shift = pressed ? 2 : 0;  // pressed: the print sinks a little
    const QImage print = icon(96);
    p.drawImage(QPoint((w - 96) / 2 + shift, (h - 96) / 2 + 2 + shift), print);
    p.setPen(QPen(pressed ? QColor(0x70, 0x80, 0x90) : QColor(0xff, 0xff, 0xff), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(1, 1, w - 2, h - 2));
    p.end();
    return image;
}

// A pointing hand, finger tip at (5, 0).
QImage pointingHandCursor() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(3.5, 3);
    path.arcTo(QRectF(3.5, 0.5, 4, 4), 180, -180);
    path.lineTo(7.5, 12);
    path.lineTo(10.5, 11);
    path.lineTo(13.5, 12);
    path.lineTo(16.5, 13);
    path.lineTo(19.5, 15);
    path.lineTo(19.5, 24);
    path.lineTo(16.5, 29.5);
    path.lineTo(7.5, 29.5);
    path.lineTo(1.5, 20);
    path.lineTo(1.5, 16);
    path.lineTo(3.5, 15.5);
    path.closeSubpath();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawPath(path);
    p.drawLine(QPointF(10.5, 11), QPointF(10.5, 17));
    p.drawLine(QPointF(13.5, 12), QPointF(13.5, 17));
    p.drawLine(QPointF(16.5, 13), QPointF(16.5, 17));
    p.end();
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures OUTDIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    const QImage small = icon(16), large = icon(32);
    const bool ok = indexed(small).save(dir + "icon16_8bit.png") && small.save(dir + "icon16_32bit.png") &&
                    indexed(large).save(dir + "icon32_8bit.png") && large.save(dir + "icon32_32bit.png") &&
                    indexed(large).save(dir + "image1.png") && background().save(dir + "background.bmp", "BMP") &&
                    logo(false).save(dir + "logo.jpg", "JPG", 92) && logo(true).save(dir + "logo_pressed.jpg", "JPG", 92) &&
                    pointingHandCursor().save(dir + "hand.png") && icon(48).save(dir + "pellicor-48.png") &&
                    icon(64).save(dir + "pellicor-64.png") && icon(128).save(dir + "pellicor-128.png") &&
                    icon(256).save(dir + "pellicor-256.png");
    if (!ok) std::fprintf(stderr, "make_pictures: cannot write to %s\n", argv[1]);
    return ok ? 0 : 1;
}
