// The animation's frames, delays and order, with GIFs written for each case;
// frame times are checked by the frame changes Qt's timers really make.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "QtTestApp.h"
#include "WidgetPixels.h"
#include "launcher/controls/CAnimatedPicture.h"
#include "tools/launcher_art/GifWriter.h"

using launcher::CAnimatedPicture;

namespace {

const QList<QRgb> kColors = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};

QByteArray SolidFrames(const std::vector<int>& delays, int size = 16) {
    QList<tvxart::GifFrame> frames;
    for (size_t i = 0; i < delays.size(); ++i)
        frames.append({tvxtest::Solid(size, size, kColors[static_cast<int>(i % 4)]), delays[i]});
    return tvxart::EncodeGif(frames, kColors, true);
}

struct Change {
    int frame;
    qint64 atMs;
};

// Plays the picture until `count` frame changes have been seen (at most 5 s).
std::vector<Change> Record(CAnimatedPicture& picture, size_t count) {
    std::vector<Change> changes;
    QElapsedTimer clock;
    clock.start();
    const auto connection =
        QObject::connect(&picture, &CAnimatedPicture::FrameShown, [&](int frame) {
            changes.push_back({frame, clock.elapsed()});
        });
    picture.Draw();
    (void)QTest::qWaitFor([&] { return changes.size() >= count; }, 5000);
    QObject::disconnect(connection);
    picture.Stop();
    return changes;
}

}  // namespace

TEST(GifWriterTest, QtReadsBackEveryPixelAndDelay) {
    tvxtest::EnsureQtApp();
    // Noise over a large table: long code widths and a table that fills up
    // and starts over inside one frame.
    QList<QRgb> table;
    for (int i = 0; i < 256; ++i)
        table.append(qRgb(i, 255 - i, (i * 7) & 0xFF));
    QRandomGenerator random(7);
    QList<tvxart::GifFrame> frames;
    for (int f = 0; f < 3; ++f) {
        QImage image(130, 97, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, table[f == 1 ? (x / 9) % 3 : random.bounded(256)]);
        frames.append({image, 7 + f * 10});
    }
    QByteArray gif = tvxart::EncodeGif(frames, table, true);
    ASSERT_FALSE(gif.isEmpty());
    QBuffer buffer(&gif);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    for (int f = 0; f < 3; ++f) {
        const QImage read = reader.read().convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(read.isNull()) << reader.errorString().toStdString();
        EXPECT_EQ(read, frames[f].image) << "frame " << f;
        EXPECT_EQ(reader.nextImageDelay(), frames[f].delayCs * 10);
    }
    EXPECT_TRUE(reader.read().isNull());

    EXPECT_TRUE(tvxart::EncodeGif({}, table, false).isEmpty());
    EXPECT_TRUE(tvxart::EncodeGif(frames, {}, false).isEmpty());
    frames.append({tvxtest::Solid(5, 5, table[0]), 0});
    EXPECT_TRUE(tvxart::EncodeGif(frames, table, false).isEmpty()) << "sizes differ";
}

TEST(CAnimatedPictureTest, WaitPerStoredDelay) {
    const struct {
        int delayCs;
        int waitMs;
    } cases[] = {{0, 100}, {1, 100}, {4, 100}, {5, 50}, {10, 100}, {20, 200}, {250, 2500}};
    for (const auto& c : cases)
        EXPECT_EQ(CAnimatedPicture::FrameWaitMs(c.delayCs), c.waitMs) << c.delayCs;
}

TEST(CAnimatedPictureTest, LoadsFramesAndDelaysFromTheReader) {
    tvxtest::EnsureQtApp();
    CAnimatedPicture picture;
    ASSERT_TRUE(picture.Load(SolidFrames({0, 3, 20, 7}, 24)));
    ASSERT_EQ(picture.FrameCount(), 4);
    EXPECT_EQ(picture.FrameDelay(2), 20);
    EXPECT_EQ(picture.FrameDelay(3), 7);
    // Qt's reader gives a stored 0 as 100 ms already; either way both short
    // delays wait 100 ms.
    EXPECT_EQ(CAnimatedPicture::FrameWaitMs(picture.FrameDelay(0)), 100);
    EXPECT_EQ(CAnimatedPicture::FrameWaitMs(picture.FrameDelay(1)), 100);
    EXPECT_EQ(picture.CurrentFrame(), -1);

    picture.move(10, 20);
    ASSERT_TRUE(picture.Draw());
    EXPECT_EQ(picture.geometry(), QRect(10, 20, 24, 24)) << "takes the picture's size in place";
    EXPECT_EQ(picture.CurrentFrame(), 0);
    EXPECT_TRUE(picture.IsAnimating());
    EXPECT_EQ(tvxtest::PixelAt(picture, {12, 12}), kColors[0]);
    picture.Stop();
    EXPECT_FALSE(picture.IsAnimating());
    EXPECT_EQ(picture.CurrentFrame(), 0) << "the frame on show stays";
    picture.UnLoad();
    EXPECT_EQ(picture.FrameCount(), 0);
    EXPECT_EQ(picture.CurrentFrame(), -1);
    EXPECT_FALSE(picture.Draw());
}

TEST(CAnimatedPictureTest, RefusesWhatIsNoGif) {
    tvxtest::EnsureQtApp();
    CAnimatedPicture picture;
    EXPECT_FALSE(picture.Load(QStringLiteral("/nonexistent/wait.gif")));
    EXPECT_FALSE(picture.Load(QByteArray("GIF89a but nothing more")));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    tvxtest::Solid(8, 8, 0xFF123456).save(&buffer, "PNG");
    EXPECT_FALSE(picture.Load(png)) << "a picture, but no GIF";
    EXPECT_EQ(picture.FrameCount(), 0);
}

TEST(CAnimatedPictureTest, SingleFrameShowsWithoutAnimating) {
    tvxtest::EnsureQtApp();
    CAnimatedPicture picture;
    ASSERT_TRUE(picture.Load(SolidFrames({0})));
    ASSERT_TRUE(picture.Draw());
    EXPECT_FALSE(picture.IsAnimating());
    EXPECT_EQ(tvxtest::PixelAt(picture, {8, 8}), kColors[0]);
}

TEST(CAnimatedPictureTest, ZeroDelayFramesStepAtHundredMsAndClearAfterTheLast) {
    tvxtest::EnsureQtApp();
    CAnimatedPicture picture;
    ASSERT_TRUE(picture.Load(SolidFrames({0, 0, 0})));
    QRgb clearedPixel = 0;
    QObject::connect(&picture, &CAnimatedPicture::FrameShown, [&](int frame) {
        if (frame == -1)
            clearedPixel = tvxtest::PixelAt(picture, {8, 8});
    });
    const std::vector<Change> changes = Record(picture, 7);
    ASSERT_GE(changes.size(), 7u);
    const int expected[] = {0, 1, 2, -1, 0, 1, 2};
    for (size_t i = 0; i < 7; ++i)
        EXPECT_EQ(changes[i].frame, expected[i]) << "change " << i;
    // Each frame stays 100 ms (a precise timer never fires early); the
    // cleared picture only until the next turn of the loop.
    for (size_t i : {0u, 1u, 2u, 4u, 5u})
        EXPECT_GE(changes[i + 1].atMs - changes[i].atMs, 99) << "frame at change " << i;
    EXPECT_EQ(clearedPixel, picture.palette().color(QPalette::Button).rgb() | 0xFF000000u);
}

TEST(CAnimatedPictureTest, LongDelayFramesStayTheirDelay) {
    tvxtest::EnsureQtApp();
    CAnimatedPicture picture;
    ASSERT_TRUE(picture.Load(SolidFrames({20, 5})));
    const std::vector<Change> changes = Record(picture, 3);
    ASSERT_GE(changes.size(), 3u);
    EXPECT_EQ(changes[1].frame, 1);
    EXPECT_GE(changes[1].atMs - changes[0].atMs, 199);
    EXPECT_GE(changes[2].atMs - changes[1].atMs, 49);
    EXPECT_EQ(changes[2].frame, -1);
}
