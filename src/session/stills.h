#pragma once

// Still images: a frame copied out of the preview's sample grabber becomes
// the stored image (stretched to 4:3 when the preview shows 4:3), which is
// written as a 24-bit BMP or a JPEG file under the next image name, asking
// before an existing file is replaced.
//
// Headless (Qt Gui's QImage only). Everything runs on the GUI thread except
// TStillWriter's worker, which makes and writes the images handed to it:
// syncing a file to a busy disk can take most of a second, and the GUI
// thread must stay free to take the next frame on time.

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "settings/naming.h"

namespace kad {

// A frame as the sample grabber copies it: rows of 3 * width bytes (R, G, B),
// top row first, each row `stride` bytes apart.
struct RgbFrame {
    const std::uint8_t* Data = nullptr;
    int Width = 0;
    int Height = 0;
    int Stride = 0;
};

// The stored image of a grab: the frame stretched to FitAspect's size, in
// mode 1 (4:3) when `ratio43` (acVMRKeepratio checked), else at its own
// size. A null image when the frame holds no picture.
QImage MakeStoredImage(const RgbFrame& frame, bool ratio43);

// Where the grab panel shows a picture of this size: inside a 192 x 144 box
// whose top-left corner is (32, 21), as large as fits, bottom-aligned at 163
// and centred across.
QRect ThumbnailRect(int width, int height);

enum class StillFormat { Bmp = 0, Jpeg = 1 };

// Writes `image` as a Windows bitmap of 24 bits per pixel. The file is
// replaced only once the new one is complete. On failure `error` (when
// given) says why.
bool WriteBmp24(const QImage& image, const QString& path, QString* error = nullptr);
// Writes `image` as a JPEG file of quality 1..100 through libjpeg, replacing
// the file only once the new one is complete.
bool WriteJpeg(const QImage& image, const QString& path, int quality, QString* error = nullptr);

// "The image <name> exists already. Do you want to replace it?" and the
// explanation of "All".
QString ReplaceImageQuestion(const QString& fileName);
// The message shown when an image could not be written.
QString ImageWriteFailedMessage(const QString& path, const QString& reason);

struct StoreOptions {
    // "Confirmer": ask before replacing an existing file. Answering All
    // turns it off here (the caller unchecks cbConfirmer).
    bool Confirm = true;
    StillFormat Format = StillFormat::Bmp;
    int Quality = 50;
};

enum class StoreOutcome {
    Written,
    // The user answered No to the replace question.
    Declined,
    // The file could not be written; the user was told.
    Failed,
};

// The replace question alone: true when `fileName` may be written (it does
// not exist, Confirm is off, or the user answered Yes or All; All turns
// Confirm off).
bool ConfirmReplace(const QString& fileName, StoreOptions& options);

// Store with confirmation: asks through dialogs() when Confirm is set and
// `fileName` exists (No: nothing written; All: Confirm becomes false, then
// written; Yes or any other answer: written), then writes in the chosen
// format. A write failure is reported through dialogs().error.
StoreOutcome StoreWithConfirmation(const QImage& stored, const QString& fileName,
                                   StoreOptions& options);

// Stores `stored` under `nextImageFileName` and, when it was written, moves
// `nextImageFileName` on to NextImageName(naming). Declined or failed
// stores keep the name, so the next grab tries the same file again.
StoreOutcome StoreAndAdvance(const QImage& stored, QString& nextImageFileName,
                             StoreOptions& options, NamingState& naming);

// A grabbed frame on its way to the disk: its own copy of the grabber's
// bytes (RgbFrame's layout) and everything that decides the stored file.
struct StillJob {
    // When set, runs first on the writer's thread to fill Bytes, Width,
    // Height and Stride: a frame taken in the stream's own format is
    // converted there rather than on the thread that took it.
    std::function<bool(StillJob& job, QString* reason)> Develop;
    std::vector<std::uint8_t> Bytes;
    int Width = 0;
    int Height = 0;
    int Stride = 0;
    bool Ratio43 = false;
    QString Path;
    StillFormat Format = StillFormat::Bmp;
    int Quality = 50;
};

// Makes the job's stored image and writes it in the job's format; the
// picture the grab panel's thumbnail shows (ThumbnailRect's size) goes to
// `thumbnail` even when the write fails. Safe on any thread.
bool StoreStill(const StillJob& job, QString* reason, QImage* thumbnail = nullptr);

// Writes the grabbed images one at a time, in the order they were handed
// over, on a worker thread of its own, and reports each outcome to the
// thread that owns the writer through a queued signal.
//
// The queue is bounded: a disk that cannot keep up makes Submit refuse
// rather than pile up frames in memory. Destroying the writer waits (up to
// kQuitWaitMs) for the images still queued; past that deadline the rest is
// dropped with a warning on stderr, and the worker is left to finish the one
// it holds on its own.
class TStillWriter : public QObject {
    Q_OBJECT
public:
    // Writes one job; defaults to StoreStill. Called on the worker thread.
    using WriteFunction = std::function<bool(const StillJob&, QString* reason, QImage* thumbnail)>;
    static constexpr int kQueueLimit = 4;
    static constexpr int kQuitWaitMs = 10000;

    explicit TStillWriter(WriteFunction write = {}, QObject* parent = nullptr);
    ~TStillWriter() override;
    TStillWriter(const TStillWriter&) = delete;
    TStillWriter& operator=(const TStillWriter&) = delete;

    // Hands `job` over; false, with nothing queued, when kQueueLimit images
    // are still waiting for the disk.
    bool Submit(StillJob job);
    // Replaces how the jobs are written (a slow or failing disk in tests);
    // the jobs not yet started use the new one.
    void SetWriteFunction(WriteFunction write);
    // Images handed over and not yet written or failed.
    int Pending() const;
    // Blocks until every image handed over is written or has failed, at
    // most `ms`; true when none is left. Only for quitting and for tools.
    bool WaitIdle(int ms);

signals:
    // Before the outcome of each image whose picture could be made.
    void thumbnailReady(const QImage& thumbnail);
    void written(const QString& path);
    void failed(const QString& path, const QString& reason);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
};

// The type change of the options panel (rgExtension, acJpgOption,
// acBmpOption): the next image name keeps its number and takes the new
// extension.
QString ChangeImageExtension(NamingState& naming, StillFormat format);

} // namespace kad
