// Still images: the stored size after the 4:3 option, the thumbnail box,
// BMP (24-bit) and JPEG files read back by Qt's own decoders, the replace
// question, a write that fails, and the writer that keeps slow writes off
// the GUI thread.

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "session/stills.h"
#include "support/fake_dialogs.h"
#include "support/wait.h"

using namespace kad;

namespace {

// An RGB frame whose top half is red and bottom half blue, rows padded to
// four bytes as the grabber delivers them.
struct Frame {
    Frame(int w, int h) : width(w), height(h), stride((3 * w + 3) & ~3)
    {
        bytes.assign(static_cast<size_t>(stride) * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = &bytes[static_cast<size_t>(y * stride + 3 * x)];
                if (y < h / 2)
                    p[0] = 255;
                else
                    p[2] = 255;
            }
    }
    RgbFrame view() const { return {bytes.data(), width, height, stride}; }

    int width;
    int height;
    int stride;
    std::vector<std::uint8_t> bytes;
};

QImage readBack(const QString& path, QByteArray* format = nullptr)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (format) *format = reader.format();
    return reader.read();
}

bool near(QRgb a, QColor b, int tolerance = 24)
{
    return std::abs(qRed(a) - b.red()) <= tolerance &&
           std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

class StillsStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetStartupTime(QDateTime(QDate(2026, 12, 5), QTime(13, 48, 5)));
        naming.imageDirectory = dir.path();
        naming.ImageCounter = 0;
        next = NextImageName(naming); // Image_0000.bmp, counter 1
        stored = MakeStoredImage(frame.view(), true);
    }

    QTemporaryDir dir;
    NamingState naming;
    QString next;
    Frame frame{64, 48};
    QImage stored;
    test::FakeDialogs dialogs;
};

} // namespace

TEST(Stills, PalFrameIsStoredAt4x3OnlyWithTheRatioOption)
{
    const Frame pal(720, 576);
    const QImage ratio = MakeStoredImage(pal.view(), true);
    EXPECT_EQ(ratio.size(), QSize(720, 540));
    // Stretched, not cropped: the colour boundary stays in the middle.
    EXPECT_TRUE(near(ratio.pixel(360, 10), Qt::red));
    EXPECT_TRUE(near(ratio.pixel(360, 530), Qt::blue));
    EXPECT_TRUE(near(ratio.pixel(360, 260), Qt::red));
    EXPECT_TRUE(near(ratio.pixel(360, 280), Qt::blue));

    const QImage native = MakeStoredImage(pal.view(), false);
    EXPECT_EQ(native.size(), QSize(720, 576));
    EXPECT_TRUE(near(native.pixel(0, 0), Qt::red));
    EXPECT_TRUE(near(native.pixel(719, 575), Qt::blue));

    EXPECT_EQ(MakeStoredImage(Frame(720, 480).view(), true).size(), QSize(640, 480));
    EXPECT_TRUE(MakeStoredImage({}, true).isNull()) << "no frame yet: nothing to store";
    const Frame bad(10, 10);
    EXPECT_TRUE(MakeStoredImage({bad.bytes.data(), 10, 10, 12}, true).isNull())
        << "a stride shorter than a row is refused";
}

TEST(Stills, ThumbnailSitsInItsBoxBottomAligned)
{
    EXPECT_EQ(ThumbnailRect(720, 540), QRect(32, 19, 192, 144));
    // Wider than 4:3: full width, less than 144 high, bottom at 163.
    const QRect wide = ThumbnailRect(1024, 576);
    EXPECT_EQ(wide, QRect(32, 55, 192, 108));
    EXPECT_EQ(wide.y() + wide.height(), 163);
    // Taller: full height, centred across.
    EXPECT_EQ(ThumbnailRect(480, 640), QRect(32 + (192 - 108) / 2, 19, 108, 144));
}

TEST(Stills, BmpIs24BitAndReadsBackWithPaddedRows)
{
    QTemporaryDir dir;
    const Frame odd(101, 31); // rows of 303 bytes, padded to 304
    const QImage image = MakeStoredImage(odd.view(), false);
    const QString path = dir.filePath("odd.bmp");
    ASSERT_TRUE(WriteBmp24(image, path));

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GE(bytes.size(), 54);
    EXPECT_EQ(bytes.left(2), "BM");
    EXPECT_EQ(quint8(bytes[28]) | (quint8(bytes[29]) << 8), 24) << "24 bits per pixel";
    EXPECT_EQ(bytes.size(), 54 + 304 * 31);

    QByteArray format;
    const QImage back = readBack(path, &format);
    EXPECT_EQ(format, "bmp");
    ASSERT_EQ(back.size(), QSize(101, 31));
    EXPECT_EQ(back.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(back.pixel(100, 30), qRgb(0, 0, 255));
}

TEST(Stills, JpegReadsBackAtTheChosenQuality)
{
    QTemporaryDir dir;
    const Frame pal(720, 576);
    const QImage image = MakeStoredImage(pal.view(), true);
    const QString low = dir.filePath("low.jpg");
    const QString high = dir.filePath("high.jpg");
    ASSERT_TRUE(WriteJpeg(image, low, 5));
    ASSERT_TRUE(WriteJpeg(image, high, 100));

    QByteArray format;
    const QImage back = readBack(high, &format);
    EXPECT_EQ(format, "jpeg");
    ASSERT_EQ(back.size(), QSize(720, 540));
    EXPECT_TRUE(near(back.pixel(100, 100), Qt::red));
    EXPECT_TRUE(near(back.pixel(600, 500), Qt::blue));
    EXPECT_GT(QFileInfo(high).size(), QFileInfo(low).size());
    EXPECT_EQ(readBack(low).size(), QSize(720, 540));
}

TEST_F(StillsStore, WrittenImagesAdvanceTheName)
{
    StoreOptions options;
    EXPECT_EQ(StoreAndAdvance(stored, next, options, naming), StoreOutcome::Written);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("Image_0000.bmp")));
    EXPECT_EQ(next, dir.filePath("Image_0001.bmp"));
    EXPECT_TRUE(dialogs.shown.empty()) << "a new file needs no question";

    // The type change keeps the number.
    next = ChangeImageExtension(naming, StillFormat::Jpeg);
    EXPECT_EQ(next, dir.filePath("Image_0001.jpg"));
    options.Format = StillFormat::Jpeg;
    EXPECT_EQ(StoreAndAdvance(stored, next, options, naming), StoreOutcome::Written);
    EXPECT_EQ(readBack(dir.filePath("Image_0001.jpg")).size(), QSize(64, 48));
    EXPECT_EQ(next, dir.filePath("Image_0002.jpg"));
}

TEST_F(StillsStore, ReplaceQuestionNoYesAndAll)
{
    QFile existing(next);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();
    StoreOptions options;

    dialogs.answer(DialogAnswer::No);
    EXPECT_EQ(StoreAndAdvance(stored, next, options, naming), StoreOutcome::Declined);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "warningYesNoAll");
    EXPECT_TRUE(dialogs.shown[0].text.contains("Image_0000.bmp"));
    EXPECT_EQ(next, dir.filePath("Image_0000.bmp")) << "No keeps the name";
    EXPECT_EQ(QFileInfo(next).size(), 3) << "No leaves the file alone";
    EXPECT_TRUE(options.Confirm);

    dialogs.answer(DialogAnswer::Yes);
    EXPECT_EQ(StoreAndAdvance(stored, next, options, naming), StoreOutcome::Written);
    EXPECT_EQ(readBack(dir.filePath("Image_0000.bmp")).size(), QSize(64, 48));
    EXPECT_TRUE(options.Confirm);

    // All: written, and no question any more.
    QFile::copy(dir.filePath("Image_0000.bmp"), next);
    dialogs.answer(DialogAnswer::YesToAll);
    EXPECT_EQ(StoreAndAdvance(stored, next, options, naming), StoreOutcome::Written);
    EXPECT_FALSE(options.Confirm);
    QFile::copy(dir.filePath("Image_0000.bmp"), next);
    const size_t asked = dialogs.shown.size();
    EXPECT_EQ(StoreAndAdvance(stored, next, options, naming), StoreOutcome::Written);
    EXPECT_EQ(dialogs.shown.size(), asked) << "without confirmation an existing file is replaced";
    EXPECT_EQ(next, dir.filePath("Image_0003.bmp"));
}

TEST_F(StillsStore, WriteFailureIsReportedAndKeepsTheName)
{
    naming.imageDirectory = dir.filePath("missing/folder");
    naming.ImageCounter = 5;
    next = NextImageName(naming); // Image_0005.bmp in a folder that does not exist
    StoreOptions options;
    EXPECT_EQ(StoreAndAdvance(stored, next, options, naming), StoreOutcome::Failed);
    EXPECT_EQ(next, dir.filePath("missing/folder/Image_0005.bmp"));
    EXPECT_EQ(naming.ImageCounter, 6) << "no number is used up";
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "error");
    EXPECT_TRUE(dialogs.shown[0].text.contains("Image_0005.bmp"));
    EXPECT_TRUE(dialogs.shown[0].text.contains(dir.filePath("missing/folder")));

    // Once the folder exists the same name is written.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("missing/folder")));
    options.Format = StillFormat::Jpeg;
    next = ChangeImageExtension(naming, StillFormat::Jpeg);
    EXPECT_EQ(StoreAndAdvance(stored, next, options, naming), StoreOutcome::Written);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("missing/folder/Image_0005.jpg")));
}

namespace {

// A write held until the test opens the gate (or a deadline passes, so a
// broken test cannot hang), then done for real.
class Gate {
public:
    void open()
    {
        std::lock_guard<std::mutex> guard(lock_);
        open_ = true;
        wake_.notify_all();
    }
    bool waitOpen()
    {
        std::unique_lock<std::mutex> guard(lock_);
        return wake_.wait_for(guard, std::chrono::seconds(10), [this] { return open_; });
    }
    TStillWriter::WriteFunction heldWrite()
    {
        return [this](const StillJob& job, QString* reason, QImage* thumbnail) {
            if (!waitOpen()) {
                *reason = QStringLiteral("the test never opened the gate");
                return false;
            }
            return StoreStill(job, reason, thumbnail);
        };
    }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool open_ = false;
};

StillJob jobFor(const Frame& frame, const QString& path, StillFormat format)
{
    StillJob job;
    job.Bytes = frame.bytes;
    job.Width = frame.width;
    job.Height = frame.height;
    job.Stride = frame.stride;
    job.Ratio43 = true;
    job.Path = path;
    job.Format = format;
    job.Quality = 90;
    return job;
}

} // namespace

TEST(StillWriter, ASlowWriteLeavesTheEventLoopRunningAndEndsComplete)
{
    QTemporaryDir dir;
    Gate gate;
    TStillWriter writer(gate.heldWrite());
    QStringList written;
    QObject::connect(&writer, &TStillWriter::written, [&](const QString& p) { written << p; });
    std::vector<QSize> thumbnails;
    QObject::connect(&writer, &TStillWriter::thumbnailReady,
                     [&](const QImage& t) { thumbnails.push_back(t.size()); });

    const Frame pal(720, 576);
    const QString first = dir.filePath("first.jpg");
    const QString second = dir.filePath("second.bmp");
    ASSERT_TRUE(writer.Submit(jobFor(pal, first, StillFormat::Jpeg)));
    // The second frame comes in the stream's own form and is converted on
    // the writer's thread.
    StillJob developed = jobFor(pal, second, StillFormat::Bmp);
    developed.Bytes.clear();
    developed.Develop = [bytes = pal.bytes](StillJob& job, QString*) {
        job.Bytes = bytes;
        return true;
    };
    ASSERT_TRUE(writer.Submit(std::move(developed)));

    // The write is held, yet timers of the GUI thread keep firing.
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    EXPECT_TRUE(kadtest::waitUntil([&] { return fired; }, 5000));
    EXPECT_EQ(writer.Pending(), 2);
    EXPECT_FALSE(QFileInfo::exists(first));

    gate.open();
    ASSERT_TRUE(kadtest::waitUntil([&] { return written.size() == 2; }, 10000));
    EXPECT_EQ(written, QStringList({first, second})) << "images are written in their order";
    EXPECT_EQ(writer.Pending(), 0);
    EXPECT_EQ(thumbnails, std::vector<QSize>(2, QSize(192, 144)));
    for (const QString& path : {first, second}) {
        QByteArray format;
        const QImage image = readBack(path, &format);
        ASSERT_FALSE(image.isNull()) << path.toStdString();
        EXPECT_EQ(image.size(), QSize(720, 540));
        EXPECT_TRUE(near(image.pixel(360, 10), Qt::red));
        EXPECT_TRUE(near(image.pixel(360, 530), Qt::blue));
    }
}

TEST(StillWriter, TheQueueIsBoundedAndAFailureNamesItsFile)
{
    QTemporaryDir dir;
    Gate gate;
    TStillWriter writer(gate.heldWrite());
    QStringList failed;
    QStringList reasons;
    QObject::connect(&writer, &TStillWriter::failed, [&](const QString& p, const QString& r) {
        failed << p;
        reasons << r;
    });
    const Frame small(64, 48);
    const QString missing = dir.filePath("missing/Image_0000.bmp");
    ASSERT_TRUE(writer.Submit(jobFor(small, missing, StillFormat::Bmp)));
    const QString unconverted = dir.filePath("unconverted.bmp");
    StillJob lost = jobFor(small, unconverted, StillFormat::Bmp);
    lost.Develop = [](StillJob&, QString* reason) {
        *reason = QStringLiteral("no conversion");
        return false;
    };
    ASSERT_TRUE(writer.Submit(std::move(lost)));
    for (int i = 2; i < TStillWriter::kQueueLimit; ++i)
        EXPECT_TRUE(writer.Submit(
            jobFor(small, dir.filePath(QStringLiteral("%1.bmp").arg(i)), StillFormat::Bmp)));
    EXPECT_FALSE(writer.Submit(jobFor(small, dir.filePath("over.bmp"), StillFormat::Bmp)))
        << "a full queue refuses rather than grows";

    gate.open();
    ASSERT_TRUE(
        kadtest::waitUntil([&] { return writer.Pending() == 0 && !failed.isEmpty(); }, 10000));
    kadtest::pump(50);
    EXPECT_EQ(failed, QStringList({missing, unconverted}));
    EXPECT_FALSE(reasons.value(0).isEmpty());
    EXPECT_EQ(reasons.value(1), QStringLiteral("no conversion"));
    EXPECT_FALSE(QFileInfo::exists(unconverted));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("over.bmp")));
    EXPECT_FALSE(readBack(dir.filePath("3.bmp")).isNull());

    // A frame that lies about its size is refused, not read past its end.
    StillJob shortJob = jobFor(small, dir.filePath("short.bmp"), StillFormat::Bmp);
    shortJob.Bytes.resize(100);
    QString reason;
    EXPECT_FALSE(StoreStill(shortJob, &reason));
    EXPECT_FALSE(reason.isEmpty());
}

TEST(StillWriter, QuittingWaitsForTheImagesStillQueued)
{
    QTemporaryDir dir;
    const Frame small(64, 48);
    QStringList paths;
    {
        TStillWriter writer([](const StillJob& job, QString* reason, QImage* thumbnail) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            return StoreStill(job, reason, thumbnail);
        });
        for (int i = 0; i < 3; ++i) {
            paths << dir.filePath(QStringLiteral("q%1.jpg").arg(i));
            ASSERT_TRUE(writer.Submit(jobFor(small, paths.last(), StillFormat::Jpeg)));
        }
    }
    for (const QString& path : paths) {
        QByteArray format;
        EXPECT_FALSE(readBack(path, &format).isNull()) << path.toStdString();
        EXPECT_EQ(format, QByteArray("jpeg"));
    }
}
