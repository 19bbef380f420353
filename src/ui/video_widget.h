#pragma once

// `vwEcran`: the preview surface. The display sink hands every decoded frame
// over from its own thread (PushDisplayFrame / PushFrame); the
// widget keeps only the latest one under a mutex and asks for one queued
// repaint, so the sink never waits for the GUI thread and a busy GUI thread
// only skips frames instead of queueing them. The pictures are kept, not
// copied: the widget holds the sink's buffer for as long as it shows it.

#include <QImage>
#include <QMutex>
#include <QWidget>

#include <atomic>

#include <gst/gst.h>

#include "elements/display_sink.h"
#include "platform/media/gst_ptr.h"

namespace kad {

class TVideoWidget : public QWidget {
    Q_OBJECT
public:
    explicit TVideoWidget(QWidget* parent = nullptr);
    ~TVideoWidget() override;

    // The caps the display sink should deliver: packed 32-bit RGB that
    // QImage paints without conversion.
    static const char* DisplayCaps();

    // Thread-safe: keep `frame` as the picture to show. The image is shared,
    // not copied; the caller must not write into its pixels afterwards.
    // `pixelAspect` is the source's pixel aspect ratio (width / height of a
    // pixel), 1.0 for square pixels.
    void PushFrame(const QImage& frame, double pixelAspect = 1.0);
    // Thread-safe: keep a frame as a kaddisplaysink hands it over. The
    // widget takes a reference of the frame's buffer and shows its pixels
    // where they are; the buffer goes back to the sink once a newer frame
    // has replaced it and is no longer being painted. Only a frame without
    // a buffer is copied.
    void PushDisplayFrame(const KadDisplayFrame& frame);
    // Receives the frames of a kaddisplaysink (null detaches) through
    // PushDisplayFrame, on the sink's delivery thread, which never waits for
    // the GUI.
    void AttachDisplaySink(GstElement* sink);
    // Forget the picture (the preview stopped): the surface turns black.
    void ClearFrame();

    // True: the source's own aspect ratio, centred; false: the picture is
    // stretched to a 4:3 area (the whole window at its normal size).
    void SetKeepAspect(bool keep);
    bool KeepAspect() const { return keepAspect_; }

    // Full screen on the screen the widget is on, kept above other windows;
    // leaving puts the widget back in its place.
    void SetFullScreen(bool on);
    bool IsFullScreen() const { return fullScreen_; }

    // A copy of the latest frame, and how many frames reached the widget (for
    // tests and the still grab's fallback).
    QImage CurrentFrame() const;
    quint64 FramesReceived() const { return received_.load(); }
    quint64 FramesPainted() const { return painted_; }
    // Where the picture is drawn inside the widget for the current frame.
    QRect PictureRect() const;

signals:
    void leftClicked();
    void rightClicked(const QPoint& globalPos);
    void framePainted();
    // Escape pressed while the picture fills the screen.
    void leaveFullScreenRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect pictureRect(const QSize& frame, double pixelAspect) const;

    mutable QMutex mutex_; // guards frame_ and aspect_
    QImage frame_;
    double aspect_ = 1.0;
    std::atomic<bool> repaintPending_{false};
    std::atomic<quint64> received_{0};
    quint64 painted_ = 0;
    bool keepAspect_ = true;
    bool fullScreen_ = false;
    QWidget* homeParent_ = nullptr;
    GRef<GstElement> sink_; // the attached display sink
    QSize requested_;       // GUI thread: the size asked of the sink
    QRect homeGeometry_;
};

} // namespace kad
