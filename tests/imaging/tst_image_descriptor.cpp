// Image buffers: what allocimage refuses and why, that every way of freeing
// stays memory-safe, and 1-bit pictures widened.
#include "image_data.h"
#include "image_rows.h"
#include "imaging_test_support.h"
#include "testing_hooks.h"

#include <QtTest>
#include <climits>

class ImageDescriptorTest : public QObject {
    Q_OBJECT

private slots:
    void allocimageLimits_data();
    void allocimageLimits();
    void freeingIsSafeInEveryOrder();
    void reallocatingReleasesOnlyItsOwnHold();
    void widensOneBitToEightBit();
    void wideningRefusesMismatchedImages();
};

void ImageDescriptorTest::allocimageLimits_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("depth");
    QTest::addColumn<qulonglong>("limit");  // for one picture's memory; 0: the machine's
    QTest::addColumn<int>("code");
    QTest::addColumn<qulonglong>("needed");  // what imaging_bytes_needed reports
    const auto row = [](const char* name, int w, int h, int depth, qulonglong limit, int code, qulonglong needed = 0) {
        QTest::newRow(name) << w << h << depth << limit << code << needed;
    };
    constexpr qulonglong GiB = 1ull << 30;
    row("depth 0", 10, 10, 0, 0, IMG_ERR_BAD_IMAGE);
    row("depth 3", 10, 10, 3, 0, IMG_ERR_BAD_IMAGE);
    row("depth 16", 10, 10, 16, 0, IMG_ERR_BAD_IMAGE);
    row("depth 32", 10, 10, 32, 0, IMG_ERR_BAD_IMAGE);
    row("zero width", 0, 10, 8, 0, IMG_ERR_BAD_IMAGE);
    row("negative height", 10, -10, 24, 0, IMG_ERR_BAD_IMAGE);
    // Wider or taller than a JPEG: refused before any size is worked out.
    row("a size that would overflow", INT_MAX, INT_MAX, 24, 0, IMG_ERR_TOO_LARGE);
    row("wider than a JPEG", 65501, 1, 1, 0, IMG_ERR_TOO_LARGE);
    row("taller than a JPEG", 1, 65501, 8, 0, IMG_ERR_TOO_LARGE);
    // Pages never touched cost nothing, so a buffer past 2 GiB comes at once;
    // its last row starts past 2^31.
    row("just over 2 GiB, within the limit", 32768, 21847, 24, 3 * GiB, IMG_OK);
    row("just over 2 GiB, over the limit", 32768, 21847, 24, 2 * GiB, IMG_ERR_NO_MEMORY, 98304ull * 21847);
    row("over 4 GiB, over the limit", 65500, 21900, 24, 4 * GiB, IMG_ERR_NO_MEMORY, 196500ull * 21900);
    row("the largest a JPEG holds", 65500, 65500, 24, 8 * GiB, IMG_ERR_NO_MEMORY, 196500ull * 65500);
    row("a photo after a refusal", 4000, 3000, 24, 0, IMG_OK);
}

void ImageDescriptorTest::allocimageLimits() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, depth);
    QFETCH(qulonglong, limit);
    QFETCH(int, code);
    QFETCH(qulonglong, needed);
    ImageDescriptor image{};
    imaging_set_memory_limit(limit);
    const int rc = allocimage(&image, width, height, depth);
    imaging_set_memory_limit(0);
    QCOMPARE(rc, code);
    QCOMPARE(imaging_bytes_needed(), needed);
    QCOMPARE(image.allocated(), code == IMG_OK);
    freeimage(&image);
    QCOMPARE(allocimage(nullptr, 1, 1, 8), IMG_ERR_BAD_IMAGE);
}

void ImageDescriptorTest::freeingIsSafeInEveryOrder() {
    // Run under the sanitizers, these would report any double free or leak.
    ImageDescriptor zeroed{};
    freeimage(&zeroed);
    freeimage(nullptr);

    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, 8, 8, 8), IMG_OK);
    freeimage(&image);
    freeimage(&image);
    QVERIFY(!image.allocated());

    ImageDescriptor a{}, b{};
    QCOMPARE(allocimage(&a, 8, 8, 24), IMG_OK);
    copyimgdes(&a, &b);
    QCOMPARE(imaging::ImageAccess::handle(b), imaging::ImageAccess::handle(a));  // both describe one image
    freeimage(&a);
    QCOMPARE(support::rowsOf(b).bytes.size(), std::size_t{8 * 24});  // still usable through the copy
    freeimage(&b);
    freeimage(&a);
    copyimgdes(&a, &a);
}

void ImageDescriptorTest::reallocatingReleasesOnlyItsOwnHold() {
    ImageDescriptor a{}, b{};
    QCOMPARE(allocimage(&a, 4, 4, 8), IMG_OK);
    copyimgdes(&a, &b);
    const auto shared = imaging::ImageAccess::handle(b);
    QCOMPARE(allocimage(&a, 2, 2, 1), IMG_OK);
    QCOMPARE(imaging::ImageAccess::handle(b), shared);
    QCOMPARE(b.width(), 4);
    QCOMPARE(a.depth(), 1);
}

void ImageDescriptorTest::widensOneBitToEightBit() {
    QTemporaryDir dir;
    fixture::Picture p = fixture::photo(19, 5, true);
    for (auto& i : p.indices) i &= 1;
    fixture::Variant v;
    v.bits = 1;
    v.palette = {RGBQUAD{10, 20, 30, 0}, RGBQUAD{200, 210, 220, 0}};
    v.xPelsPerMeter = v.yPelsPerMeter = 3780;
    const QByteArray path = support::writeTemp(dir, "one.bmp", fixture::encode(v, p));

    ImageDescriptor one{}, eight{};
    QCOMPARE(allocimage(&one, 19, 5, 1), IMG_OK);
    QCOMPARE(loadbmp(path.constData(), &one), IMG_OK);
    QCOMPARE(allocimage(&eight, 19, 5, 8), IMG_OK);
    QCOMPARE(convert1bitto8bit(&one, &eight), IMG_OK);
    const support::ImageRows rows = support::rowsOf(eight);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 19; ++x) QCOMPARE(rows.row(y)[x], p.indices[static_cast<std::size_t>(y * 19 + x)]);
    QCOMPARE(support::coloursOf(eight), support::coloursOf(one));
    QCOMPARE(eight.xPelsPerMeter(), 3780);
}

void ImageDescriptorTest::wideningRefusesMismatchedImages() {
    ImageDescriptor one{}, eight{}, small{}, empty{};
    QCOMPARE(allocimage(&one, 10, 10, 1), IMG_OK);
    QCOMPARE(allocimage(&eight, 10, 10, 8), IMG_OK);
    QCOMPARE(allocimage(&small, 9, 10, 8), IMG_OK);
    QCOMPARE(convert1bitto8bit(&one, &small), IMG_ERR_MISMATCH);
    QCOMPARE(convert1bitto8bit(&eight, &eight), IMG_ERR_MISMATCH);
    QCOMPARE(convert1bitto8bit(&one, &one), IMG_ERR_MISMATCH);
    QCOMPARE(convert1bitto8bit(&one, &empty), IMG_ERR_BAD_IMAGE);
    QCOMPARE(convert1bitto8bit(nullptr, &eight), IMG_ERR_BAD_IMAGE);
}

QTEST_APPLESS_MAIN(ImageDescriptorTest)
#include "tst_image_descriptor.moc"
