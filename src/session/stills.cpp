#include "session/stills.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include <jpeglib.h>

#include "system/dialogs.h"
#include "system/sysinfo.h"
#include "system/texts.h"

namespace kad {

namespace {

// libjpeg reports fatal errors by calling error_exit, which must not
// return: it jumps back to the encoder, which then cleans up.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void jpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Plain C data only between setjmp and longjmp: nothing here has a
// destructor that a jump could skip. On success *out holds a malloc'ed
// buffer of *outSize bytes; on failure it may hold one too (free it).
bool encodeJpeg(const unsigned char* rgb, int width, int height, qsizetype stride, int quality,
                unsigned char** out, unsigned long* outSize, char* message)
{
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = jpegErrorExit;
    err.message[0] = '\0';
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::strncpy(message, err.message, JMSG_LENGTH_MAX - 1);
        message[JMSG_LENGTH_MAX - 1] = '\0';
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

struct MallocBuffer {
    unsigned char* data = nullptr;
    ~MallocBuffer() { std::free(data); }
};

bool writeWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

void putLe16(QByteArray& out, int offset, quint16 v)
{
    qToLittleEndian(v, out.data() + offset);
}

void putLe32(QByteArray& out, int offset, quint32 v)
{
    qToLittleEndian(v, out.data() + offset);
}

QImage asRgb888(const QImage& image)
{
    return image.format() == QImage::Format_RGB888 ? image
                                                   : image.convertToFormat(QImage::Format_RGB888);
}

} // namespace

QImage MakeStoredImage(const RgbFrame& frame, bool ratio43)
{
    if (!frame.Data || frame.Width < 1 || frame.Height < 1 || frame.Stride < 3 * frame.Width)
        return {};
    const QImage source(frame.Data, frame.Width, frame.Height, frame.Stride, QImage::Format_RGB888);
    int width = frame.Width;
    int height = frame.Height;
    FitAspect(width, height, ratio43 ? 1 : 0);
    if (width == frame.Width && height == frame.Height) return source.copy();
    return asRgb888(source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

QRect ThumbnailRect(int width, int height)
{
    constexpr int boxWidth = 192;
    constexpr int boxHeight = 144;
    if (width < 1 || height < 1) return {};
    int w = 0;
    int h = 0;
    if (qint64(boxWidth) * height <= qint64(boxHeight) * width) {
        w = boxWidth;
        h = static_cast<int>(qint64(boxWidth) * height / width);
    } else {
        h = boxHeight;
        w = static_cast<int>(qint64(boxHeight) * width / height);
    }
    return QRect(32 + (boxWidth - w) / 2, 163 - h, w, h);
}

bool WriteBmp24(const QImage& image, const QString& path, QString* error)
{
    if (image.isNull()) {
        if (error) *error = Text(TextId::ImageNoPicture);
        return false;
    }
    const QImage rgb = asRgb888(image);
    const int width = rgb.width();
    const int height = rgb.height();
    const qint64 rowSize = (qint64(width) * 3 + 3) & ~qint64(3);
    const qint64 pixelBytes = rowSize * height;
    constexpr int headerSize = 14 + 40;
    if (pixelBytes + headerSize > 0x7fffffff) {
        if (error) *error = Text(TextId::ImageTooLargeForBitmap);
        return false;
    }
    QByteArray out(headerSize + pixelBytes, '\0');
    out[0] = 'B';
    out[1] = 'M';
    putLe32(out, 2, quint32(headerSize + pixelBytes));
    putLe32(out, 10, headerSize);
    putLe32(out, 14, 40);
    putLe32(out, 18, quint32(width));
    putLe32(out, 22, quint32(height)); // positive: rows stored bottom-up
    putLe16(out, 26, 1);
    putLe16(out, 28, 24);
    putLe32(out, 30, 0); // BI_RGB
    putLe32(out, 34, quint32(pixelBytes));
    putLe32(out, 38, 2835); // 72 dpi
    putLe32(out, 42, 2835);
    for (int y = 0; y < height; ++y) {
        const uchar* src = rgb.constScanLine(height - 1 - y);
        char* dst = out.data() + headerSize + y * rowSize;
        for (int x = 0; x < width; ++x) {
            dst[3 * x] = char(src[3 * x + 2]);
            dst[3 * x + 1] = char(src[3 * x + 1]);
            dst[3 * x + 2] = char(src[3 * x]);
        }
    }
    return writeWhole(path, out, error);
}

bool WriteJpeg(const QImage& image, const QString& path, int quality, QString* error)
{
    if (image.isNull()) {
        if (error) *error = Text(TextId::ImageNoPicture);
        return false;
    }
    const QImage rgb = asRgb888(image);
    MallocBuffer buffer;
    unsigned long size = 0;
    char message[JMSG_LENGTH_MAX] = {};
    if (!encodeJpeg(rgb.constBits(), rgb.width(), rgb.height(), rgb.bytesPerLine(),
                    std::clamp(quality, 1, 100), &buffer.data, &size, message)) {
        if (error) *error = QString::fromLocal8Bit(message);
        return false;
    }
    return writeWhole(
        path, QByteArray::fromRawData(reinterpret_cast<const char*>(buffer.data), qsizetype(size)),
        error);
}

QString ReplaceImageQuestion(const QString& fileName)
{
    return Text(TextId::ImageReplaceQuestion).arg(fileName);
}

QString ImageWriteFailedMessage(const QString& path, const QString& reason)
{
    return Text(TextId::ImageWriteFailed)
        .arg(QFileInfo(path).fileName(), QFileInfo(path).absolutePath(), reason);
}

bool ConfirmReplace(const QString& fileName, StoreOptions& options)
{
    if (!options.Confirm || !QFileInfo::exists(fileName)) return true;
    const DialogAnswer answer =
        dialogs().warningYesNoAll(ReplaceImageQuestion(QFileInfo(fileName).fileName()));
    if (answer == DialogAnswer::No) return false;
    if (answer == DialogAnswer::YesToAll) options.Confirm = false;
    return true;
}

StoreOutcome StoreWithConfirmation(const QImage& stored, const QString& fileName,
                                   StoreOptions& options)
{
    if (!ConfirmReplace(fileName, options)) return StoreOutcome::Declined;
    QString reason;
    const bool written = options.Format == StillFormat::Jpeg
                             ? WriteJpeg(stored, fileName, options.Quality, &reason)
                             : WriteBmp24(stored, fileName, &reason);
    if (!written) {
        dialogs().error(ImageWriteFailedMessage(fileName, reason));
        return StoreOutcome::Failed;
    }
    return StoreOutcome::Written;
}

StoreOutcome StoreAndAdvance(const QImage& stored, QString& nextImageFileName,
                             StoreOptions& options, NamingState& naming)
{
    const StoreOutcome outcome = StoreWithConfirmation(stored, nextImageFileName, options);
    if (outcome == StoreOutcome::Written) nextImageFileName = NextImageName(naming);
    return outcome;
}

bool StoreStill(const StillJob& job, QString* reason, QImage* thumbnail)
{
    RgbFrame frame;
    frame.Data = job.Bytes.data();
    frame.Width = job.Width;
    frame.Height = job.Height;
    frame.Stride = job.Stride;
    if (job.Bytes.size() < std::size_t(qint64(job.Stride) * std::max(job.Height, 0))) {
        if (reason) *reason = Text(TextId::ImageNoPicture);
        return false;
    }
    const QImage stored = MakeStoredImage(frame, job.Ratio43);
    if (thumbnail && !stored.isNull())
        *thumbnail = stored.scaled(ThumbnailRect(stored.width(), stored.height()).size(),
                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return job.Format == StillFormat::Jpeg ? WriteJpeg(stored, job.Path, job.Quality, reason)
                                           : WriteBmp24(stored, job.Path, reason);
}

// Shared by the writer and its worker, so a worker left behind at quitting
// never touches the writer itself. `lock` guards every member; `report` is
// cleared when the writer goes.
struct TStillWriter::Shared {
    WriteFunction write;
    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<StillJob> queue;
    bool busy = false;
    bool quit = false;
    std::function<void(const QString& path, bool ok, const QString& reason,
                       const QImage& thumbnail)>
        report;

    void run()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [this] { return quit || !queue.empty(); });
            if (queue.empty()) return;
            StillJob job = std::move(queue.front());
            queue.pop_front();
            busy = true;
            const WriteFunction writeNow = write;
            guard.unlock();
            QString reason;
            QImage thumbnail;
            bool ok = false;
            try {
                ok = (!job.Develop || job.Develop(job, &reason)) &&
                     writeNow(job, &reason, &thumbnail);
            } catch (const std::exception& e) {
                reason = QString::fromLocal8Bit(e.what());
            } catch (...) {
                reason = Text(TextId::ImageUnexpectedError);
            }
            guard.lock();
            busy = false;
            if (report) report(job.Path, ok, reason, thumbnail);
            idle.notify_all();
        }
    }
};

TStillWriter::TStillWriter(WriteFunction write, QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>())
{
    shared_->write = write ? std::move(write) : WriteFunction(StoreStill);
    shared_->report = [this](const QString& path, bool ok, const QString& reason,
                             const QImage& thumbnail) {
        // Queued to this object's thread; dropped by Qt should the writer
        // be gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, path, ok, reason, thumbnail] {
                if (!thumbnail.isNull()) emit thumbnailReady(thumbnail);
                if (ok)
                    emit written(path);
                else
                    emit failed(path, reason);
            },
            Qt::QueuedConnection);
    };
    worker_ = std::thread([shared = shared_] { shared->run(); });
}

TStillWriter::~TStillWriter()
{
    const bool drained = WaitIdle(kQuitWaitMs);
    {
        std::lock_guard<std::mutex> guard(shared_->lock);
        if (!drained)
            qWarning("Kadrillo: quitting with %d image(s) not yet written to the disk",
                     int(shared_->queue.size()) + (shared_->busy ? 1 : 0));
        shared_->queue.clear();
        shared_->report = nullptr;
        shared_->quit = true;
        shared_->wake.notify_all();
    }
    // A worker stuck in a write past the deadline keeps only the shared
    // state alive; it ends once that write returns.
    if (drained)
        worker_.join();
    else
        worker_.detach();
}

bool TStillWriter::Submit(StillJob job)
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    if (int(shared_->queue.size()) + (shared_->busy ? 1 : 0) >= kQueueLimit) return false;
    shared_->queue.push_back(std::move(job));
    shared_->wake.notify_one();
    return true;
}

void TStillWriter::SetWriteFunction(WriteFunction write)
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->write = write ? std::move(write) : WriteFunction(StoreStill);
}

int TStillWriter::Pending() const
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    return int(shared_->queue.size()) + (shared_->busy ? 1 : 0);
}

bool TStillWriter::WaitIdle(int ms)
{
    std::unique_lock<std::mutex> guard(shared_->lock);
    return shared_->idle.wait_for(guard, std::chrono::milliseconds(ms),
                                  [this] { return shared_->queue.empty() && !shared_->busy; });
}

QString ChangeImageExtension(NamingState& naming, StillFormat format)
{
    naming.imageExtension = static_cast<int>(format);
    return RebuildImageName(naming);
}

} // namespace kad
