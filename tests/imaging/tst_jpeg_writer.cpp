// JPEG output: the bytes libjpeg-turbo itself would write, gray where the
// palette is gray, density and colour profile carried, and no file damaged
// or half-written whatever goes wrong.
#include "imaging_test_support.h"
#include "testing_hooks.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <cstdio>
#include <jpeglib.h>
#include <sys/stat.h>
#include <turbojpeg.h>

Q_DECLARE_METATYPE(fixture::Variant)

namespace {

// Loads a bitmap as the program does, widening 1-bit images.
bool loadForSaving(const QByteArray& path, ImageDescriptor& image) {
    return imaging::loadPicture(path.constData(), image).code == IMG_OK;
}

// libjpeg-turbo's own compression of the same pixels, through its other API.
QByteArray turboJpeg(const ImageDescriptor& image, int quality) {
    const bool gray = savesAsGray(&image);
    std::vector<std::uint8_t> pixels;
    for (const fixture::Rgba& c : support::coloursOf(image)) {
        if (gray)
            pixels.push_back(c.r);
        else
            pixels.insert(pixels.end(), {c.b, c.g, c.r});
    }
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(h, pixels.data(), image.width(), 0, image.height(), gray ? TJPF_GRAY : TJPF_BGR, &out, &size,
                gray ? TJSAMP_GRAY : TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
    tjFree(out);
    tjDestroy(h);
    return bytes;
}

std::vector<std::uint8_t> rgbOf(const fixture::Picture& p) {
    std::vector<std::uint8_t> out;
    for (const fixture::Rgba& c : p.colours) out.insert(out.end(), {c.r, c.g, c.b});
    return out;
}

std::vector<std::uint8_t> iccIn(const QByteArray& jpeg) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.constData()), static_cast<unsigned long>(jpeg.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    JOCTET* data = nullptr;
    unsigned size = 0;
    std::vector<std::uint8_t> icc;
    if (jpeg_read_icc_profile(&cinfo, &data, &size)) icc.assign(data, data + size);
    std::free(data);
    jpeg_destroy_decompress(&cinfo);
    return icc;
}

QStringList entries(const QString& folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

}  // namespace

class JpegWriterTest : public QObject {
    Q_OBJECT

private slots:
    void bytesEqualLibjpegTurbo_data();
    void bytesEqualLibjpegTurbo();
    void bytesEqualCjpeg_data();
    void bytesEqualCjpeg();
    void keepsTheImage();
    void alphaFlattensAlikeAtEveryDepth();
    void grayOnlyForGrayPalettes();
    void densityAndColourProfileCarried();
    void refusesWhatJpegCannotHold();
    void failedSavesLeaveNothingBehind_data();
    void failedSavesLeaveNothingBehind();
    void failureMidWriteKeepsTheOldTarget();
    void replacesTargetsWithUsualPermissions();

private:
    QTemporaryDir dir_;
};

void JpegWriterTest::bytesEqualLibjpegTurbo_data() {
    QTest::addColumn<fixture::Variant>("variant");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("effective");
    const auto row = [](const char* name, const fixture::Variant& v, int quality = 75, int effective = 75) {
        QTest::newRow(name) << v << quality << effective;
    };
    const fixture::Variant rgb;
    row("24-bit q75", rgb);
    row("24-bit q95", rgb, 95, 95);
    row("24-bit q30", rgb, 30, 30);
    row("24-bit q0 saves at 1", rgb, 0, 1);
    row("24-bit q150 saves at 100", rgb, 150, 100);
    // Every way rows reach libjpeg: in place, through the palette, decoded a row at a time.
    fixture::Variant top;
    top.topDown = true;
    row("24-bit top-down", top);
    using fixture::Header;
    const auto gray = fixture::grayPalette(256);
    const std::vector<RGBQUAD> reversed(gray.rbegin(), gray.rend());
    const auto colour = fixture::colourPalette(256);
    row("8-bit gray", fixture::indexedVariant(8, BI_RGB, Header::Info, gray));
    row("8-bit gray, reversed", fixture::indexedVariant(8, BI_RGB, Header::Info, reversed));
    row("8-bit colour", fixture::indexedVariant(8, BI_RGB, Header::Info, colour));
    row("RLE8 colour", fixture::indexedVariant(8, BI_RLE8, Header::Info, colour));
    row("4-bit colour", fixture::indexedVariant(4, BI_RGB, Header::Info, fixture::colourPalette(16)));
    row("1-bit gray", fixture::indexedVariant(1, BI_RGB, Header::Info, fixture::grayPalette(2)));
    row("1-bit colour", fixture::indexedVariant(1, BI_RGB, Header::Info, fixture::colourPalette(2)));
    row("16-bit 5-6-5", fixture::maskVariant(16, BI_BITFIELDS, Header::Info, {0xF800, 0x07E0, 0x001F, 0}));
    row("32-bit", fixture::maskVariant(32, BI_RGB, Header::Info));
    row("32-bit alpha", fixture::maskVariant(32, BI_BITFIELDS, Header::V5, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}));
}

void JpegWriterTest::bytesEqualLibjpegTurbo() {
    QFETCH(fixture::Variant, variant);
    QFETCH(int, quality);
    QFETCH(int, effective);
    fixture::Picture p = fixture::photo(61, 47, variant.bits <= 8);
    for (auto& i : p.indices) i = static_cast<std::uint8_t>(i >> (8 - std::min(variant.bits, 8)));
    for (std::size_t i = 0; i < p.colours.size(); ++i) p.colours[i].a = static_cast<std::uint8_t>(i * 37);
    const QByteArray in = support::writeTemp(dir_, "in.bmp", fixture::encode(variant, p));
    const QByteArray out = QFile::encodeName(dir_.filePath("out.jpg"));
    ImageDescriptor image{};
    QVERIFY(loadForSaving(in, image));
    QCOMPARE(savejpg(out.constData(), &image, quality), IMG_OK);
    QVERIFY(support::readAll(out) == turboJpeg(image, effective));
}

void JpegWriterTest::bytesEqualCjpeg_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::newRow("24-bit") << 24 << false;
    QTest::newRow("8-bit colour") << 8 << false;
    QTest::newRow("8-bit gray") << 8 << true;
    QTest::newRow("32-bit") << 32 << false;
}

void JpegWriterTest::bytesEqualCjpeg() {
    QFETCH(int, bits);
    QFETCH(bool, gray);
    const QString cjpeg = QStandardPaths::findExecutable("cjpeg");
    if (cjpeg.isEmpty()) QSKIP("cjpeg is not installed");
    fixture::Variant v;
    v.bits = bits;
    v.xPelsPerMeter = 3780;  // 96 dpi: cjpeg writes 37 dots per cm
    v.yPelsPerMeter = 2835;
    if (bits == 8) v.palette = gray ? fixture::grayPalette(256) : fixture::colourPalette(256);
    const QByteArray in = support::writeTemp(dir_, "cj.bmp", fixture::encode(v, fixture::photo(64, 40, bits == 8, 9)));
    const QByteArray out = QFile::encodeName(dir_.filePath("cj.jpg"));
    ImageDescriptor image{};
    QVERIFY(loadForSaving(in, image));
    QCOMPARE(savejpg(out.constData(), &image, 80), IMG_OK);

    QProcess p;
    p.start(cjpeg, {"-quality", "80", QFile::decodeName(in)});
    QVERIFY(p.waitForFinished());
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(support::readAll(out) == p.readAllStandardOutput());
}

void JpegWriterTest::keepsTheImage() {
    const fixture::Picture p = fixture::photo(120, 80, false, 4);
    const QByteArray in = support::writeTemp(dir_, "photo.bmp", fixture::encode(fixture::Variant{}, p));
    const QByteArray out = QFile::encodeName(dir_.filePath("photo.jpg"));
    ImageDescriptor image{};
    QVERIFY(loadForSaving(in, image));
    QCOMPARE(savejpg(out.constData(), &image, 90), IMG_OK);
    const support::Jpeg jpeg = support::decodeJpeg(out);
    QCOMPARE(jpeg.width, 120);
    QCOMPARE(jpeg.height, 80);  // and upright: a flipped image would fail the PSNR
    const double db = support::psnr(jpeg.pixels, rgbOf(p));
    QVERIFY2(db > 28, qPrintable(QString::number(db)));
}

void JpegWriterTest::alphaFlattensAlikeAtEveryDepth() {
    // Half-transparent areas over white, as a viewer shows them, whether the
    // picture was saved with 8 or 16 bits per channel.
    fixture::Picture p = fixture::photo(48, 32, false, 6);
    for (std::size_t i = 0; i < p.colours.size(); ++i) p.colours[i].a = static_cast<std::uint8_t>(i % 3 == 0 ? 128 : i % 3 == 1 ? 255 : 40);
    fixture::Variant v64;
    v64.bits = 64;
    const fixture::Variant v32 = fixture::maskVariant(32, BI_BITFIELDS, fixture::Header::V5, {0xFF0000, 0xFF00, 0xFF, 0xFF000000});
    std::vector<std::uint8_t> decoded[2];
    for (int i = 0; i < 2; ++i) {
        const QByteArray in = support::writeTemp(dir_, "alpha.bmp", fixture::encode(i ? v64 : v32, p));
        const QByteArray out = QFile::encodeName(dir_.filePath("alpha.jpg"));
        ImageDescriptor image{};
        QVERIFY(loadForSaving(in, image));
        QCOMPARE(savejpg(out.constData(), &image, 90), IMG_OK);
        decoded[i] = support::decodeJpeg(out).pixels;
    }
    QCOMPARE(decoded[0].size(), decoded[1].size());
    for (std::size_t i = 0; i < decoded[0].size(); ++i) QVERIFY(std::abs(decoded[0][i] - decoded[1][i]) <= 1);
}

void JpegWriterTest::grayOnlyForGrayPalettes() {
    struct Case {
        const char* name;
        int bits;
        std::vector<RGBQUAD> palette;
        int components;
    };
    const std::vector<Case> cases = {
        {"1-bit black and white", 1, fixture::grayPalette(2), 1},
        {"1-bit two colours", 1, fixture::colourPalette(2), 3},
        {"4-bit gray", 4, fixture::grayPalette(16), 1},
        {"8-bit colour", 8, fixture::colourPalette(256), 3},
    };
    for (const Case& c : cases) {
        fixture::Variant v;
        v.bits = c.bits;
        v.palette = c.palette;
        // Blocks of one colour, which chroma subsampling leaves alone.
        fixture::Picture p = fixture::photo(32, 24, true);
        for (std::size_t i = 0; i < p.indices.size(); ++i)
            p.indices[i] = static_cast<std::uint8_t>((i % 32 / 8 * 5 + i / 32 / 8 * 3) % (1u << c.bits));
        const QByteArray in = support::writeTemp(dir_, "gray.bmp", fixture::encode(v, p));
        const QByteArray out = QFile::encodeName(dir_.filePath("gray.jpg"));
        ImageDescriptor image{};
        QVERIFY(loadForSaving(in, image));
        QCOMPARE(savejpg(out.constData(), &image, 95), IMG_OK);
        const support::Jpeg jpeg = support::decodeJpeg(out);
        QVERIFY2(jpeg.components == c.components, c.name);
        // The colours survive too, within JPEG's loss.
        std::vector<std::uint8_t> expected;
        for (const fixture::Rgba& rgb : support::paletteColours(p, c.palette)) {
            if (c.components == 1)
                expected.push_back(rgb.r);
            else
                expected.insert(expected.end(), {rgb.r, rgb.g, rgb.b});
        }
        QVERIFY2(support::psnr(jpeg.pixels, expected) > 25, qPrintable(QString("%1: %2 dB").arg(c.name).arg(support::psnr(jpeg.pixels, expected))));
    }

    // Saved straight from a 1-bit buffer (when widening could not be done).
    fixture::Variant v;
    v.bits = 1;
    v.palette = fixture::grayPalette(2);
    const QByteArray in = support::writeTemp(dir_, "one.bmp", fixture::encode(v, fixture::photo(17, 9, true)));
    const QByteArray out = QFile::encodeName(dir_.filePath("one.jpg"));
    ImageDescriptor one{};
    QCOMPARE(allocimage(&one, 17, 9, 1), IMG_OK);
    QCOMPARE(loadbmp(in.constData(), &one), IMG_OK);
    QCOMPARE(savejpg(out.constData(), &one, 75), IMG_OK);
    QCOMPARE(support::decodeJpeg(out).components, 1);
}

void JpegWriterTest::densityAndColourProfileCarried() {
    fixture::Variant v;
    v.header = fixture::Header::V5;
    v.xPelsPerMeter = 11811;  // 300 dpi
    v.yPelsPerMeter = 11811;
    for (int i = 0; i < 70000; ++i) v.icc.push_back(static_cast<std::uint8_t>(i * 7));  // spans two markers
    const QByteArray in = support::writeTemp(dir_, "v5.bmp", fixture::encode(v, fixture::photo(16, 16, false)));
    const QByteArray out = QFile::encodeName(dir_.filePath("v5.jpg"));
    ImageDescriptor image{};
    QVERIFY(loadForSaving(in, image));
    QCOMPARE(savejpg(out.constData(), &image, 75), IMG_OK);
    const QByteArray jpeg = support::readAll(out);
    QCOMPARE(jpeg.mid(6, 5), QByteArray("JFIF\0", 5));
    QCOMPARE(int(jpeg[13]), 2);  // dots per cm
    QCOMPARE((quint8(jpeg[14]) << 8) | quint8(jpeg[15]), 118);
    QCOMPARE((quint8(jpeg[16]) << 8) | quint8(jpeg[17]), 118);
    QVERIFY(iccIn(jpeg) == v.icc);

    // Under one dot per centimetre in either direction, no density is written.
    for (const auto& [x, y] : {std::pair{99, 11811}, std::pair{11811, 50}, std::pair{-5, -5}}) {
        fixture::Variant low;
        low.xPelsPerMeter = x;
        low.yPelsPerMeter = y;
        const QByteArray lowIn = support::writeTemp(dir_, "low.bmp", fixture::encode(low, fixture::photo(8, 8, false)));
        ImageDescriptor lowImage{};
        QVERIFY(loadForSaving(lowIn, lowImage));
        QCOMPARE(savejpg(out.constData(), &lowImage, 75), IMG_OK);
        const QByteArray lowJpeg = support::readAll(out);
        QCOMPARE(lowJpeg.mid(13, 5), QByteArray("\0\0\1\0\1", 5));  // no unit, 1:1
    }
}

void JpegWriterTest::refusesWhatJpegCannotHold() {
    const QByteArray out = QFile::encodeName(dir_.filePath("wide.jpg"));
    ImageDescriptor wide{}, tall{}, fits{}, empty{};
    QCOMPARE(allocimage(&wide, 65501, 1, 8), IMG_OK);
    QCOMPARE(allocimage(&tall, 1, 65501, 1), IMG_OK);
    QCOMPARE(allocimage(&fits, 65500, 2, 1), IMG_OK);
    QCOMPARE(savejpg(out.constData(), &wide, 75), IMG_ERR_TOO_LARGE);
    QCOMPARE(savejpg(out.constData(), &tall, 75), IMG_ERR_TOO_LARGE);
    QVERIFY(!QFile::exists(QFile::decodeName(out)));
    QCOMPARE(savejpg(out.constData(), &empty, 75), IMG_ERR_BAD_IMAGE);
    QCOMPARE(savejpg(out.constData(), nullptr, 75), IMG_ERR_BAD_IMAGE);
    QCOMPARE(savejpg(out.constData(), &fits, 75), IMG_OK);
}

void JpegWriterTest::failedSavesLeaveNothingBehind_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("folder");  // listed before and after
    QTest::newRow("missing folder") << "gone/out.jpg" << ".";
    QTest::newRow("a file where the folder should be") << "plain.txt/out.jpg" << ".";
    QTest::newRow("target is a folder") << "taken" << "taken";
    QTest::newRow("empty name") << "" << ".";
}

void JpegWriterTest::failedSavesLeaveNothingBehind() {
    QFETCH(QString, target);
    QFETCH(QString, folder);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("taken"));
    QFile plain(dir.filePath("plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(QFile::copy(dir.filePath("plain.txt"), dir.filePath("taken/inside.txt")));
    const QStringList before = entries(dir.filePath(folder));

    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 8, 8, 24), IMG_OK);
    const QByteArray path = target.isEmpty() ? QByteArray() : QFile::encodeName(dir.filePath(target));
    QCOMPARE(savejpg(path.constData(), &image, 75), IMG_ERR_WRITE);
    QCOMPARE(entries(dir.filePath(folder)), before);
}

void JpegWriterTest::failureMidWriteKeepsTheOldTarget() {
    QTemporaryDir dir;
    const QByteArray in = support::writeTemp(dir, "big.bmp", fixture::encode(fixture::Variant{}, fixture::photo(800, 600, false)));
    const QByteArray out = QFile::encodeName(dir.filePath("big.jpg"));
    QFile old(dir.filePath("big.jpg"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an older picture");
    old.close();
    const QStringList before = entries(dir.path());

    ImageDescriptor image{};
    QVERIFY(loadForSaving(in, image));
    for (long long failAt : {0LL, 1000LL, 300000LL}) {  // before, inside and after the first buffer
        imaging_fail_writes_after(failAt);
        const int rc = savejpg(out.constData(), &image, 100);
        imaging_fail_writes_after(-1);
        QCOMPARE(rc, IMG_ERR_WRITE);
        QCOMPARE(entries(dir.path()), before);
        QCOMPARE(support::readAll(out), QByteArray("an older picture"));
    }
    QCOMPARE(savejpg(out.constData(), &image, 100), IMG_OK);
    QCOMPARE(support::decodeJpeg(out).width, 800);
    QCOMPARE(entries(dir.path()), before);
}

void JpegWriterTest::replacesTargetsWithUsualPermissions() {
    QTemporaryDir dir;
    const QByteArray out = QFile::encodeName(dir.filePath("Sommar på Ön.jpg"));
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 8, 8, 24), IMG_OK);
    const mode_t mask = ::umask(022);
    QCOMPARE(savejpg(out.constData(), &image, 75), IMG_OK);
    QCOMPARE(savejpg(out.constData(), &image, 75), IMG_OK);
    ::umask(mask);
    struct stat st {};
    QCOMPARE(::stat(out.constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0644);
    QCOMPARE(entries(dir.path()), QStringList{"Sommar på Ön.jpg"});
}

QTEST_APPLESS_MAIN(JpegWriterTest)
#include "tst_jpeg_writer.moc"
