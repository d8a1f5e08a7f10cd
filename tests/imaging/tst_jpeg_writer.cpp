// JPEG output: the bytes libjpeg-turbo itself would write, gray where the
// palette is gray, density and colour profile carried, and no file damaged
// or half-written whatever goes wrong.
#include "fast_paths.h"
#include "fat_stick.h"
#include "imaging_test_support.h"
#include "jpeg_internals.h"
#include "testing_hooks.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <jpeglib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(fixture::Variant)
Q_DECLARE_METATYPE(JpegOptions)

namespace {

// Loads a bitmap as the program does, widening 1-bit images.
bool loadForSaving(const QByteArray& path, ImageDescriptor& image, imaging::LoadOptions options = {}) {
    return imaging::loadPicture(path.constData(), image, options).code == IMG_OK;
}

// cjpeg's compression of the bitmap file itself with the options of the
// same names, or nothing without cjpeg.
QByteArray cjpeg(const QByteArray& bmp, const JpegOptions& o) {
    const QString program = QStandardPaths::findExecutable("cjpeg");
    if (program.isEmpty()) return {};
    QStringList args{"-quality", QString::number(o.quality)};
    if (o.sampling != JpegSampling::Default) args << "-sample" << QStringList{"", "1x1", "2x1", "2x2"}[int(o.sampling)];
    for (const auto& [on, name] : {std::pair{o.progressive, "-progressive"}, {o.optimize, "-optimize"}, {o.grayscale, "-grayscale"}})
        if (on) args << name;
    QProcess p;
    p.start(program, args << QFile::decodeName(bmp));
    return p.waitForFinished() && p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray("cjpeg failed");
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

QString hex(pid_t pid) { return QString::number(pid, 16).rightJustified(8, '0'); }

// The pid of a process that has come and gone.
pid_t deadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// Saves through named temporaries while it lives, as on a FUSE file system.
struct PlainFiles {
    explicit PlainFiles(bool on) { imaging_force_plain_files(on); }
    ~PlainFiles() { imaging_force_plain_files(false); }
};

}  // namespace

class JpegWriterTest : public QObject {
    Q_OBJECT

private slots:
    void bytesEqualAReferenceEncoder_data();
    void bytesEqualAReferenceEncoder();
    void densityAndColourProfileCarried();
    void refusesWhatJpegCannotHold();
    void failedSavesLeaveNothingBehind_data();
    void failedSavesLeaveNothingBehind();
    void failureMidWriteKeepsTheOldTarget();
    void replacesTargetsWithUsualPermissions();
    void commitsUnderTheLongestName_data();
    void commitsUnderTheLongestName();
    void comparesWithAnExistingFile_data();
    void comparesWithAnExistingFile();
    void removesTemporariesOfGoneWritersOnly_data();
    void removesTemporariesOfGoneWritersOnly();
    void savesOnAFatStick();

private:
    QTemporaryDir dir_;
};

void JpegWriterTest::bytesEqualAReferenceEncoder_data() {
    QTest::addColumn<fixture::Variant>("variant");
    QTest::addColumn<JpegOptions>("options");
    QTest::addColumn<int>("effective");
    QTest::addColumn<bool>("byCjpeg");  // else libjpeg-turbo from the loaded pixels
    QTest::addColumn<int>("components");  // 1: gray, for gray palettes only
    QTest::addColumn<bool>("widen");
    const auto row = [](const char* name, const fixture::Variant& v, int components = 3, bool cjpeg = false,
                        JpegOptions options = 75, int effective = 75, bool widen = true) {
        QTest::newRow(name) << v << options << effective << cjpeg << components << widen;
    };
    const fixture::Variant rgb;
    row("24-bit q75", rgb);
    row("24-bit q95", rgb, 3, false, 95, 95);
    row("24-bit q30", rgb, 3, false, 30, 30);
    row("24-bit q0 saves at 1", rgb, 3, false, 0, 1);
    row("24-bit q150 saves at 100", rgb, 3, false, 150, 100);
    using fixture::Header;
    const auto gray = fixture::grayPalette(256);
    const auto colour = fixture::colourPalette(256);
    row("8-bit gray", fixture::indexedVariant(8, BI_RGB, Header::Info, gray), 1);
    row("8-bit gray, reversed", fixture::indexedVariant(8, BI_RGB, Header::Info, {gray.rbegin(), gray.rend()}), 1);
    row("4-bit gray", fixture::indexedVariant(4, BI_RGB, Header::Info, fixture::grayPalette(16)), 1);
    row("1-bit gray", fixture::indexedVariant(1, BI_RGB, Header::Info, fixture::grayPalette(2)), 1);
    // When widening could not be done, the packed rows themselves.
    row("1-bit gray, not widened", fixture::indexedVariant(1, BI_RGB, Header::Info, fixture::grayPalette(2)), 1, false, 75, 75, false);
    row("1-bit colour, not widened", fixture::indexedVariant(1, BI_RGB, Header::Info, fixture::colourPalette(2)), 3, false, 75, 75,
        false);
    row("32-bit alpha", fixture::maskVariant(32, BI_BITFIELDS, Header::V5, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}));
    // cjpeg reads the file on its own, so these rows also check what we read.
    fixture::Variant dpi;  // 96 dpi: cjpeg writes 37 dots per cm
    dpi.xPelsPerMeter = 3780;
    dpi.yPelsPerMeter = 2835;
    // cjpeg's options, alone and together. Explicit sampling sets a gray
    // JPEG's factors too; 4-bit pictures take our converter where it runs,
    // and cjpeg reads them as 8-bit twins.
    const auto as = [&dpi](int bits, const std::vector<RGBQUAD>& palette) {
        fixture::Variant v = dpi;
        return v.bits = bits, v.palette = palette, v;
    };
    const auto with = [](JpegSampling s, bool p, bool o, bool g) {
        JpegOptions j(80);
        return j.sampling = s, j.progressive = p, j.optimize = o, j.grayscale = g, j;
    };
    using enum JpegSampling;
    for (const auto& [kind, bitmap] : {std::pair{"24-bit", dpi}, {"32-bit", as(32, {})}, {"8-bit colour", as(8, colour)},
                                       {"8-bit gray", as(8, gray)}, {"4-bit colour", as(4, fixture::colourPalette(16))}})
        for (const auto& [set, o] : {std::pair{"q80", with(Default, 0, 0, 0)}, {"4:4:4", with(S444, 0, 0, 0)}, {"4:2:2", with(S422, 0, 0, 0)},
                                     {"4:2:0", with(S420, 0, 0, 0)}, {"progressive", with(Default, 1, 0, 0)},
                                     {"optimize", with(Default, 0, 1, 0)}, {"grayscale", with(Default, 0, 0, 1)},
                                     {"4:4:4 progressive optimize", with(S444, 1, 1, 0)},
                                     {"4:2:2 grayscale progressive", with(S422, 1, 0, 1)}, {"grayscale optimize", with(Default, 0, 1, 1)}})
            row(qPrintable(QString("cjpeg %1 %2").arg(kind, set)), bitmap, o.grayscale || QString(kind).endsWith("gray") ? 1 : 3, true, o, 80);
    // A bitmap holding a JPEG saves as that JPEG, whatever the quality: with no
    // stream size given, the bytes after its end are the file's, not its own,
    // and counted in the size (quality 31 here), they are its own.
    row("embedded JPEG, q30 ignored", fixture::maskVariant(0, BI_JPEG, Header::Info), 3, false, 30, 30);
    row("embedded JPEG and what its size counts in", fixture::maskVariant(0, BI_JPEG, Header::Info), 3, false, 31, 31);
}

void JpegWriterTest::bytesEqualAReferenceEncoder() {
    QFETCH(fixture::Variant, variant);
    QFETCH(JpegOptions, options);
    QFETCH(int, effective);
    QFETCH(bool, byCjpeg);
    QFETCH(int, components);
    QFETCH(bool, widen);
    const bool embedded = variant.compression == BI_JPEG;
    fixture::Picture p = fixture::photo(61, 47, !embedded && variant.bits <= 8);
    for (auto& i : p.indices) i = static_cast<std::uint8_t>(i >> (8 - std::min(variant.bits, 8)));
    for (std::size_t i = 0; i < p.colours.size(); ++i) p.colours[i].a = static_cast<std::uint8_t>(i * 37);
    std::vector<std::uint8_t> bmp = fixture::encode(variant, p);
    std::vector<std::uint8_t> jpeg = embedded ? fixture::jpegOf(p) : std::vector<std::uint8_t>{};
    if (embedded) {
        bmp.resize(bmp.size() + 100, 0x55);
        const auto size = options.quality == 30 ? 0 : jpeg.size() + 100;
        for (int i = 0; i < 4; ++i) bmp[34 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
        if (size) jpeg.resize(size, 0x55);
    }
    const QByteArray in = support::writeTemp(dir_, "in.bmp", bmp);
    const QByteArray out = QFile::encodeName(dir_.filePath("out.jpg"));
    ImageDescriptor image{};
    QVERIFY(loadForSaving(in, image, {.widenOneBit = widen}));
    QCOMPARE(image.depth(), widen && variant.bits == 1 ? 8 : imaging::programDepth(variant.bits));
    QCOMPARE(savejpg(out.constData(), &image, options), IMG_OK);
    fixture::Variant twin = variant;
    twin.bits = 8;
    options.quality = effective;
    const QByteArray reference = embedded  ? QByteArray(reinterpret_cast<const char*>(jpeg.data()), qsizetype(jpeg.size()))
                                 : byCjpeg ? cjpeg(variant.bits < 8 ? support::writeTemp(dir_, "twin.bmp", fixture::encode(twin, p)) : in, options)
                                           : support::turboJpeg(image, effective);
    if (reference.isEmpty()) QSKIP("cjpeg is not installed");
    QVERIFY(support::readAll(out) == reference);
    QCOMPARE(support::jpegHeader(out).components, components);
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
    ImageDescriptor fits{}, empty{};
    QCOMPARE(allocimage(&fits, 65500, 2, 1), IMG_OK);
    QCOMPARE(savejpg(out.constData(), &empty, 75), IMG_ERR_BAD_IMAGE);
    QCOMPARE(savejpg(out.constData(), nullptr, 75), IMG_ERR_BAD_IMAGE);
    QVERIFY(!QFile::exists(QFile::decodeName(out)));
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
    const QByteArray jpegIn = support::writeTemp(
        dir, "jpeg.bmp", fixture::encode(fixture::maskVariant(0, BI_JPEG, fixture::Header::Info), fixture::photo(800, 600, false)));
    const QByteArray out = QFile::encodeName(dir.filePath("big.jpg"));
    QFile old(dir.filePath("big.jpg"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an older picture");
    old.close();
    const QStringList before = entries(dir.path());

    ImageDescriptor image{}, embedded{};
    QVERIFY(loadForSaving(in, image));
    QVERIFY(loadForSaving(jpegIn, embedded));
    // Before, inside and after the encoder's first buffer; an embedded JPEG's bytes go in one write.
    for (const auto& [from, failAt] : {std::pair{&image, 0LL}, {&image, 1000LL}, {&image, 300000LL}, {&embedded, 1000LL}}) {
        imaging_fail_writes_after(failAt);
        const int rc = savejpg(out.constData(), from, 100);
        imaging_fail_writes_after(-1);
        QCOMPARE(rc, IMG_ERR_WRITE);
        QCOMPARE(entries(dir.path()), before);
        QCOMPARE(support::readAll(out), QByteArray("an older picture"));
    }
    QCOMPARE(savejpg(out.constData(), &image, 100), IMG_OK);
    QCOMPARE(support::jpegHeader(out).width, 800);
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

void JpegWriterTest::commitsUnderTheLongestName_data() {
    QTest::addColumn<bool>("plain");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("taken");
    for (const bool plain : {false, true}) {
        const QByteArray route = plain ? "named temporary: " : "unnamed file: ";
        QTest::newRow(route + "replacing") << plain << true << true;
        QTest::newRow(route + "never replacing") << plain << false << false;
        QTest::newRow(route + "never replacing a taken name") << plain << false << true;
    }
}

void JpegWriterTest::commitsUnderTheLongestName() {
    QFETCH(bool, plain);
    QFETCH(bool, replace);
    QFETCH(bool, taken);
    QTemporaryDir dir;
    const QString name = QString(251, 'n') + ".jpg";  // as long as a name can be
    const QByteArray out = QFile::encodeName(dir.filePath(name));
    QFile old(dir.filePath(name));
    QVERIFY(!taken || (old.open(QIODevice::WriteOnly) && old.write("an older picture") > 0));
    old.close();
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 8, 8, 24), IMG_OK);
    const PlainFiles route(plain);
    PendingJpeg jpeg;
    QCOMPARE(savejpg_pending(out.constData(), &image, 75, &jpeg), IMG_OK);
    QCOMPARE(entries(dir.path()).size(), int(taken) + int(plain));  // a named temporary is seen
    QCOMPARE(jpeg.commit(replace), replace || !taken);
    if (!replace && taken) QCOMPARE(imaging_os_error(), EEXIST);
    QCOMPARE(support::readAll(out) == "an older picture", !replace && taken);
    QCOMPARE(entries(dir.path()), QStringList{name});
}

void JpegWriterTest::comparesWithAnExistingFile_data() {
    QTest::addColumn<bool>("plain");
    QTest::addColumn<QString>("other");
    QTest::addColumn<int>("expected");
    for (const bool plain : {false, true}) {
        const QByteArray route = plain ? "named temporary: " : "unnamed file: ";
        QTest::newRow(route + "same bytes") << plain << "same" << 1;
        QTest::newRow(route + "last byte differs") << plain << "last byte" << 0;
    }
    QTest::newRow("one byte longer") << false << "longer" << 0;
    QTest::newRow("missing") << false << "missing" << -1;
    QTest::newRow("a folder") << false << "folder" << -1;
}

void JpegWriterTest::comparesWithAnExistingFile() {
    QFETCH(bool, plain);
    QFETCH(QString, other);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QByteArray in = support::writeTemp(dir, "in.bmp", fixture::encode(fixture::Variant{}, fixture::photo(800, 600, false)));
    const QByteArray ref = QFile::encodeName(dir.filePath("ref.jpg")), out = QFile::encodeName(dir.filePath("out.jpg"));
    ImageDescriptor image{};
    QVERIFY(loadForSaving(in, image));
    QCOMPARE(savejpg(ref.constData(), &image, 100), IMG_OK);
    const QByteArray made = support::readAll(ref);
    QVERIFY(made.size() > 128 * 1024);  // read in several pieces
    QByteArray bytes = made;
    if (other == "last byte") bytes.back() ^= 1;
    if (other == "longer") bytes += 'x';
    QFile::remove(QFile::decodeName(ref));
    if (other == "folder") QVERIFY(QDir(dir.path()).mkdir("ref.jpg"));
    if (other != "missing" && other != "folder") QVERIFY(support::writeTemp(dir, "ref.jpg", {bytes.begin(), bytes.end()}) == ref);

    const PlainFiles route(plain);
    PendingJpeg jpeg;
    QCOMPARE(jpeg.sameBytesAs(ref.constData()), -1);
    QCOMPARE(savejpg_pending(out.constData(), &image, 100, &jpeg), IMG_OK);
    QCOMPARE(jpeg.sameBytesAs(ref.constData()), expected);
    QVERIFY(jpeg.commit());
    QCOMPARE(support::readAll(out), made);
}

void JpegWriterTest::removesTemporariesOfGoneWritersOnly_data() {
    // %h: this machine, %o: another, %p: a writer that is gone, %l: one still running.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("removed");
    QTest::newRow("writer gone") << ".pellicor-%h-%p-00000000.tmp" << true;
    QTest::newRow("writer running") << ".pellicor-%h-%l-00000000.tmp" << false;
    QTest::newRow("another machine's") << ".pellicor-%o-%p-00000000.tmp" << false;
    QTest::newRow("capitals") << ".pellicor-%h-%p-0000000A.tmp" << false;
    QTest::newRow("a digit short") << ".pellicor-%h-%p-0000000.tmp" << false;
    QTest::newRow("another ending") << ".pellicor-%h-%p-00000000.jpg" << false;
    QTest::newRow("longer") << ".pellicor-%h-%p-00000000.tmp.jpg" << false;
    QTest::newRow("not hidden") << "pellicor-%h-%p-00000000.tmp" << false;
}

void JpegWriterTest::removesTemporariesOfGoneWritersOnly() {
    QFETCH(QString, name);
    QFETCH(bool, removed);
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 8, 8, 24), IMG_OK);
    QString host;
    {  // this machine's mark, from a temporary of our own
        QTemporaryDir probe;
        const PlainFiles route(true);
        PendingJpeg jpeg;
        QCOMPARE(savejpg_pending(QFile::encodeName(probe.filePath("probe.jpg")).constData(), &image, 75, &jpeg), IMG_OK);
        const QStringList temporaries = entries(probe.path());
        QCOMPARE(temporaries.size(), 1);
        QVERIFY(temporaries[0].size() < 64);
        host = temporaries[0].mid(10, 8);
        QCOMPARE(temporaries[0].mid(19, 8), hex(::getpid()));
    }
    QString another = host;
    another[7] = host[7] == '0' ? '1' : '0';
    name.replace("%h", host).replace("%o", another).replace("%l", hex(::getppid())).replace("%p", hex(deadPid()));
    QTemporaryDir dir;
    QFile left(dir.filePath(name));
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.close();
    QCOMPARE(savejpg(QFile::encodeName(dir.filePath("out.jpg")).constData(), &image, 75), IMG_OK);
    QCOMPARE(QFile::exists(dir.filePath(name)), !removed);
}

// A folder that ignores letter case, without unnamed files, hard links or a
// rename that never replaces: the route is found from what the calls answer.
void JpegWriterTest::savesOnAFatStick() {
    const support::FatStick stick;
    if (!stick.mounted()) QSKIP(qPrintable(stick.whyNot()));
    const QString root = stick.path();
    const auto at = [&](const QString& name) { return QFile::encodeName(root + '/' + name); };
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 8, 8, 24), IMG_OK);

    // A writer killed before its commit leaves a temporary, that the next one removes.
    const pid_t writer = ::fork();
    if (writer == 0) {
        PendingJpeg jpeg;
        const int rc = savejpg_pending(at("killed.jpg").constData(), &image, 75, &jpeg);
        ::kill(::getpid(), rc == IMG_OK ? SIGKILL : SIGTERM);
    }
    int status = 0;
    QCOMPARE(::waitpid(writer, &status, 0), writer);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    QCOMPARE(entries(root).size(), 1);

    PendingJpeg first;
    QCOMPARE(savejpg_pending(at("Holiday.jpg").constData(), &image, 75, &first), IMG_OK);
    QVERIFY(first.commit(false));
    QCOMPARE(entries(root), QStringList{"Holiday.jpg"});
    const QByteArray written = support::readAll(at("Holiday.jpg"));
    {
        PendingJpeg again, other;
        QCOMPARE(savejpg_pending(at("HOLIDAY.JPG").constData(), &image, 75, &again), IMG_OK);
        QCOMPARE(again.sameBytesAs(at("Holiday.jpg").constData()), 1);
        QCOMPARE(savejpg_pending(at("HOLIDAY.JPG").constData(), &image, 30, &other), IMG_OK);
        QCOMPARE(other.sameBytesAs(at("Holiday.jpg").constData()), 0);
        QVERIFY(!other.commit(false));  // the name is taken under another spelling
        QCOMPARE(imaging_os_error(), EEXIST);
    }
    QCOMPARE(entries(root), QStringList{"Holiday.jpg"});
    QCOMPARE(support::readAll(at("Holiday.jpg")), written);
    QCOMPARE(savejpg(at("HOLIDAY.JPG").constData(), &image, 30), IMG_OK);
    QCOMPARE(entries(root).size(), 1);
    QVERIFY(support::readAll(at("holiday.jpg")) != written);
}

QTEST_APPLESS_MAIN(JpegWriterTest)
#include "tst_jpeg_writer.moc"
