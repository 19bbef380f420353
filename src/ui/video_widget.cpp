#include "ui/video_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPainter>

#include <gst/video/video.h>

#include <memory>
#include <utility>

#include "elements/display_sink.h"
#include "platform/media/gst_ptr.h"

namespace kad {

namespace {

// Keeps a shown picture's buffer referenced and mapped for as long as a
// QImage uses its pixels: until then the sink cannot draw into it again.
struct MappedBuffer {
    explicit MappedBuffer(GstBuffer* b) : buffer(BufferRef::ref(b)), map(b, GST_MAP_READ) {}
    BufferRef buffer;
    BufferMap map;
};

void releaseBuffer(void* info)
{
    std::unique_ptr<MappedBuffer> owned(static_cast<MappedBuffer*>(info));
}

void onDisplayFrame(const KadDisplayFrame* frame, gpointer self)
{
    if (frame) static_cast<TVideoWidget*>(self)->PushDisplayFrame(*frame);
}

} // namespace

TVideoWidget::TVideoWidget(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("vwEcran"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::ClickFocus);
}

TVideoWidget::~TVideoWidget()
{
    AttachDisplaySink(nullptr);
}

void TVideoWidget::AttachDisplaySink(GstElement* sink)
{
    if (sink_.get() == sink) return;
    if (sink_) {
        // Returns once the callback can no longer run.
        kad_display_sink_set_callback(sink_.get(), nullptr, nullptr, nullptr);
        sink_.reset();
    }
    requested_ = QSize();
    if (sink) {
        sink_ = GRef<GstElement>::ref(sink);
        kad_display_sink_set_callback(sink_.get(), onDisplayFrame, this, nullptr);
    }
}

const char* TVideoWidget::DisplayCaps()
{
    return "video/x-raw,format=BGRx";
}

void TVideoWidget::PushFrame(const QImage& frame, double pixelAspect)
{
    QImage previous = frame;
    {
        QMutexLocker lock(&mutex_);
        std::swap(frame_, previous);
        aspect_ = pixelAspect > 0.0 ? pixelAspect : 1.0;
    }
    // The picture replaced goes (its buffer back to the sink, when no paint
    // holds it) outside the lock.
    previous = QImage();
    received_.fetch_add(1);
    // One queued repaint at a time: frames arriving before the GUI thread
    // got to it simply replace the picture.
    if (!repaintPending_.exchange(true))
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void TVideoWidget::PushDisplayFrame(const KadDisplayFrame& frame)
{
    constexpr gsize kPixelBytes = 4; // RGBx
    if (!frame.data || frame.width <= 0 || frame.height <= 0 ||
        gsize(frame.stride) < kPixelBytes * gsize(frame.width))
        return;
    const double par = frame.par_d > 0 ? double(frame.par_n) / frame.par_d : 1.0;
    if (frame.buffer) {
        auto mapped = std::make_unique<MappedBuffer>(frame.buffer);
        const gsize end = frame.offset + gsize(frame.stride) * gsize(frame.height - 1) +
                          kPixelBytes * gsize(frame.width);
        if (mapped->map && end <= mapped->map.size()) {
            // Read-only pixels: anything that would write into the picture
            // makes its own copy first.
            const uchar* pixels = mapped->map.data() + frame.offset;
            QImage image(pixels, frame.width, frame.height, frame.stride, QImage::Format_RGBX8888,
                         releaseBuffer, mapped.get());
            if (!image.isNull()) {
                mapped.release(); // the image owns it now and frees it in releaseBuffer
                PushFrame(image, par);
                return;
            }
        }
    }
    // Nothing to keep: the pixels are only valid during the sink's call.
    const QImage view(frame.data, frame.width, frame.height, frame.stride, QImage::Format_RGBX8888);
    PushFrame(view.copy(), par);
}

void TVideoWidget::ClearFrame()
{
    QImage previous;
    {
        QMutexLocker lock(&mutex_);
        std::swap(frame_, previous);
    }
    previous = QImage();
    update();
}

void TVideoWidget::SetKeepAspect(bool keep)
{
    keepAspect_ = keep;
    update();
}

void TVideoWidget::SetFullScreen(bool on)
{
    if (on == fullScreen_) return;
    if (on) {
        homeParent_ = parentWidget();
        homeGeometry_ = geometry();
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        showFullScreen();
        raise();
        activateWindow();
    } else {
        setWindowFlags(Qt::Widget);
        if (homeParent_ && parentWidget() != homeParent_) setParent(homeParent_);
        setGeometry(homeGeometry_);
        show();
    }
    fullScreen_ = on;
}

QImage TVideoWidget::CurrentFrame() const
{
    QMutexLocker lock(&mutex_);
    return frame_.copy();
}

QRect TVideoWidget::PictureRect() const
{
    QMutexLocker lock(&mutex_);
    return pictureRect(frame_.size(), aspect_);
}

QRect TVideoWidget::pictureRect(const QSize& frame, double pixelAspect) const
{
    const QRect area = rect();
    if (frame.isEmpty() || area.isEmpty()) return area;
    // Stretching fills a 4:3 area; keeping fits the source's display aspect.
    const double ratio = keepAspect_ ? frame.width() * pixelAspect / frame.height() : 4.0 / 3.0;
    int w = area.width();
    int h = qRound(w / ratio);
    if (h > area.height()) {
        h = area.height();
        w = qRound(h * ratio);
    }
    return QRect(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2, w, h);
}

void TVideoWidget::paintEvent(QPaintEvent*)
{
    repaintPending_.store(false);
    QImage frame;
    double aspect = 1.0;
    {
        QMutexLocker lock(&mutex_);
        frame = frame_; // shares the pixels; the streaming thread replaces, never writes
        aspect = aspect_;
    }
    QPainter painter(this);
    if (frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const QRect target = pictureRect(frame.size(), aspect);
    // The sink converts and scales in one pass to the size drawn here, so
    // the next frame is painted without scaling; a resize, a change of
    // aspect or full screen simply asks for another size.
    const QSize wanted = (QSizeF(target.size()) * devicePixelRatioF()).toSize();
    if (sink_ && wanted != requested_) {
        requested_ = wanted;
        kad_display_sink_set_display_size(sink_.get(), wanted.width(), wanted.height());
    }
    const QRegion bars = QRegion(rect()).subtracted(QRegion(target));
    for (const QRect& r : bars)
        painter.fillRect(r, Qt::black);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !fullScreen_);
    painter.drawImage(target, frame);
    ++painted_;
    emit framePainted();
}

void TVideoWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (!rect().contains(event->position().toPoint())) return;
    if (event->button() == Qt::LeftButton)
        emit leftClicked();
    else if (event->button() == Qt::RightButton)
        emit rightClicked(event->globalPosition().toPoint());
}

void TVideoWidget::keyPressEvent(QKeyEvent* event)
{
    // Escape is the usual way out of a full-screen picture.
    if (fullScreen_ && event->key() == Qt::Key_Escape) {
        emit leaveFullScreenRequested();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace kad
