#pragma once

// Still images: a frame copied out of the preview's sample grabber becomes
// the stored image (stretched to 4:3 when the preview shows 4:3), which is
// written as a 24-bit BMP or a JPEG file under the next image name, asking
// before an existing file is replaced.
//
// Headless (Qt Gui's QImage only), GUI thread.

#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>

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

// The type change of the options panel (rgExtension, acJpgOption,
// acBmpOption): the next image name keeps its number and takes the new
// extension.
QString ChangeImageExtension(NamingState& naming, StillFormat format);

} // namespace kad
