#include "features/stills.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "system/dialogs.h"
#include "system/sysinfo.h"

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
        if (error) *error = QStringLiteral("there is no picture");
        return false;
    }
    const QImage rgb = asRgb888(image);
    const int width = rgb.width();
    const int height = rgb.height();
    const qint64 rowSize = (qint64(width) * 3 + 3) & ~qint64(3);
    const qint64 pixelBytes = rowSize * height;
    constexpr int headerSize = 14 + 40;
    if (pixelBytes + headerSize > 0x7fffffff) {
        if (error) *error = QStringLiteral("the picture is too large for a bitmap file");
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
        if (error) *error = QStringLiteral("there is no picture");
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
    return QStringLiteral("The image ") + fileName +
           QStringLiteral(" exists already. Do you want to replace it?\nIf you click on \"All\", "
                          "then you will no more be prompted for confirmation");
}

QString ImageWriteFailedMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("The image %1 could not be saved in the folder %2:\n%3\nThe next grab "
                          "will try the same name again.")
        .arg(QFileInfo(path).fileName(), QFileInfo(path).absolutePath(), reason);
}

StoreOutcome StoreWithConfirmation(const QImage& stored, const QString& fileName,
                                   StoreOptions& options)
{
    if (options.Confirm && QFileInfo::exists(fileName)) {
        const DialogAnswer answer =
            dialogs().warningYesNoAll(ReplaceImageQuestion(QFileInfo(fileName).fileName()));
        if (answer == DialogAnswer::No) return StoreOutcome::Declined;
        if (answer == DialogAnswer::YesToAll) options.Confirm = false;
    }
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

QString ChangeImageExtension(NamingState& naming, StillFormat format)
{
    naming.imageExtension = static_cast<int>(format);
    return RebuildImageName(naming);
}

} // namespace kad
