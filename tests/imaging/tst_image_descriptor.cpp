// Image buffers: what allocimage refuses, that every way of freeing stays
// memory-safe, and 1-bit pictures widened.
#include "imaging_test_support.h"

#include <QtTest>
#include <climits>

class ImageDescriptorTest : public QObject {
    Q_OBJECT

private slots:
    void allocimageRefuses_data();
    void allocimageRefuses();
    void freeingIsSafeInEveryOrder();
    void reallocatingReleasesOnlyItsOwnHold();
    void widensOneBitToEightBit();
    void wideningRefusesMismatchedImages();
};

void ImageDescriptorTest::allocimageRefuses_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("code");
    QTest::newRow("depth 0") << 10 << 10 << 0 << IMG_ERR_BAD_IMAGE;
    QTest::newRow("depth 3") << 10 << 10 << 3 << IMG_ERR_BAD_IMAGE;
    QTest::newRow("depth 16") << 10 << 10 << 16 << IMG_ERR_BAD_IMAGE;
    QTest::newRow("depth 32") << 10 << 10 << 32 << IMG_ERR_BAD_IMAGE;
    QTest::newRow("zero width") << 0 << 10 << 8 << IMG_ERR_BAD_IMAGE;
    QTest::newRow("negative height") << 10 << -10 << 24 << IMG_ERR_BAD_IMAGE;
    QTest::newRow("size overflows") << INT_MAX << INT_MAX << 24 << IMG_ERR_NO_MEMORY;
    QTest::newRow("beyond the cap") << 40000 << 40000 << 24 << IMG_ERR_NO_MEMORY;
}

void ImageDescriptorTest::allocimageRefuses() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, depth);
    QFETCH(int, code);
    ImageDescriptor image{};
    QCOMPARE(allocimage(&image, width, height, depth), code);
    QVERIFY(!image.allocated());
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
    QCOMPARE(b.row(0), a.row(0));  // both describe one buffer
    freeimage(&a);
    QVERIFY(b.row(7) != nullptr);  // still usable through the copy
    freeimage(&b);
    freeimage(&a);
    copyimgdes(&a, &a);
}

void ImageDescriptorTest::reallocatingReleasesOnlyItsOwnHold() {
    ImageDescriptor a{}, b{};
    QCOMPARE(allocimage(&a, 4, 4, 8), IMG_OK);
    copyimgdes(&a, &b);
    const std::uint8_t* shared = b.row(0);
    QCOMPARE(allocimage(&a, 2, 2, 1), IMG_OK);
    QCOMPARE(b.row(0), shared);
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
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 19; ++x) QCOMPARE(eight.row(y)[x], p.indices[static_cast<std::size_t>(y * 19 + x)]);
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
