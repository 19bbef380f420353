#include "session/inlay.h"

#include <QTimer>

#include <gst/gst.h>

#include <algorithm>
#include <utility>

#include "graph/dm_cam.h"
#include "platform/media/gst_ptr.h"
#include "settings/preferences.h"
#include "system/texts.h"

namespace kad {

namespace {

// Whole frames per second when the graph does not know its format yet: PAL.
constexpr int kDefaultFramesPerSecond = 25;

// The action signal `name` of element when it takes exactly nParams
// arguments and returns `returns`; 0 when the element does not answer it.
guint actionSignal(GstElement* element, const char* name, guint nParams,
                   GType returns = G_TYPE_NONE)
{
    if (!element) return 0;
    const guint id = g_signal_lookup(name, G_OBJECT_TYPE(element));
    if (id == 0) return 0;
    GSignalQuery query{};
    g_signal_query(id, &query);
    if (query.n_params != nParams || !(query.signal_flags & G_SIGNAL_ACTION)) return 0;
    if ((query.return_type & ~G_SIGNAL_TYPE_STATIC_SCOPE) != returns) return 0;
    return id;
}

template <typename... Args> void emitAction(GstElement* element, const char* name, Args... args)
{
    if (const guint id = actionSignal(element, name, sizeof...(Args)))
        g_signal_emit(element, id, 0, args...);
}

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

} // namespace

// ---- The data module's elements ---------------------------------------------

bool TdmCamInlayGraph::OverlayInGraph() const
{
    return actionSignal(cam_.FilterGraph().Lumatex.Element(), "set-enabled", 1) != 0;
}

bool TdmCamInlayGraph::DatecodeInGraph() const
{
    return actionSignal(cam_.FilterGraph().Chronix.Element(), "set-enabled", 1) != 0;
}

qint64 TdmCamInlayGraph::FrameDuration() const
{
    return cam_.Preview().Format().FrameDuration;
}

void TdmCamInlayGraph::OverlaySetText(const QString& text)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-text", utf8(text).constData());
}

void TdmCamInlayGraph::OverlaySetEnabled(int enabled)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-enabled", gint(enabled));
}

void TdmCamInlayGraph::OverlaySetAutoFontSize(bool automatic)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-auto-font-size", gboolean(automatic));
}

void TdmCamInlayGraph::OverlaySetFontSize(int points)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-font-size", gint(points));
}

void TdmCamInlayGraph::OverlaySetFontName(const QString& face)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-font-name", utf8(face).constData());
}

void TdmCamInlayGraph::OverlaySetFontColor(quint32 bbggrr)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-font-color", guint(bbggrr));
}

void TdmCamInlayGraph::OverlaySetFontBold(bool on)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-font-bold", gboolean(on));
}

void TdmCamInlayGraph::OverlaySetFontItalic(bool on)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-font-italic", gboolean(on));
}

void TdmCamInlayGraph::OverlaySetFontUnderline(bool on)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-font-underline", gboolean(on));
}

void TdmCamInlayGraph::OverlaySetFontStrikeOut(bool on)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-font-strike-out", gboolean(on));
}

std::optional<QString> TdmCamInlayGraph::OverlayVersion()
{
    GstElement* overlay = cam_.FilterGraph().Lumatex.Element();
    const guint id = actionSignal(overlay, "get-version", 0, G_TYPE_STRING);
    if (id == 0) return std::nullopt;
    gchar* raw = nullptr;
    g_signal_emit(overlay, id, 0, &raw);
    const GCharPtr version(raw);
    if (!version) return std::nullopt;
    return QString::fromUtf8(version.get());
}

void TdmCamInlayGraph::OverlaySetFlip(bool flip)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-flip", gboolean(flip));
}

void TdmCamInlayGraph::OverlaySetPosition(int x, int y, int reserved)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-position", gint(x), gint(y),
               gint(reserved));
}

void TdmCamInlayGraph::OverlaySetDateFormat(const QString& pattern)
{
    emitAction(cam_.FilterGraph().Lumatex.Element(), "set-date-format", utf8(pattern).constData());
}

void TdmCamInlayGraph::DatecodeSetHourOffset(int hours)
{
    emitAction(cam_.FilterGraph().Chronix.Element(), "set-hour-offset", gint(hours));
}

void TdmCamInlayGraph::DatecodeSetFormat(const QString& pattern)
{
    emitAction(cam_.FilterGraph().Chronix.Element(), "set-format", utf8(pattern).constData());
}

void TdmCamInlayGraph::DatecodeSetEnabled(int enabled)
{
    emitAction(cam_.FilterGraph().Chronix.Element(), "set-enabled", gint(enabled));
}

void TdmCamInlayGraph::DatecodeSetInlayFrames(int frames)
{
    emitAction(cam_.FilterGraph().Chronix.Element(), "set-inlay-frames", gint(frames));
}

void TdmCamInlayGraph::DatecodeSetAutomatic(bool automatic)
{
    emitAction(cam_.FilterGraph().Chronix.Element(), "set-automatic", gboolean(automatic));
}

// ---- The inlay ----------------------------------------------------------------

TInlay::TInlay(Preferences& prefs, TInlayGraph& graph, QTimer& timer, QObject* parent)
    : QObject(parent), prefs_(prefs), graph_(graph), timer_(timer)
{
}

void TInlay::SetControlsSource(std::function<TInlayControls()> source)
{
    controls_ = std::move(source);
}

int TInlay::OverlayY(int ySlider)
{
    return kYSliderMax - std::clamp(ySlider, 0, kYSliderMax);
}

int TInlay::FramesPerSecond(qint64 frameDuration)
{
    // A graph that has not read its format yet would divide by zero; the
    // inlay then lasts as long as it would in PAL.
    if (frameDuration <= 0) return kDefaultFramesPerSecond;
    return static_cast<int>(10000000 / frameDuration);
}

TInlayChoices TInlay::AdaptChoices(bool sourceIsDV, int previousChoice)
{
    TInlayChoices c;
    c.Count = sourceIsDV ? 2 : 1;
    c.Selected = previousChoice >= 0 && previousChoice < c.Count ? previousChoice : 0;
    c.OffsetVisible = sourceIsDV && c.Selected == 1;
    return c;
}

QString TInlay::TextFor(int choice)
{
    return choice == 1 ? QStringLiteral("%D") : QStringLiteral("%N");
}

QString TInlay::CautionText()
{
    return (Text(TextId::InlayCaution) + QStringLiteral("\n\n") +
            Text(TextId::InlayWrongFilter).arg(QString(MakerName)) + u'\n' +
            Text(TextId::InlayErratic) + u'\n' + Text(TextId::InlayReinstall))
        .arg(QString(ProductName), QString(ProductVersion), QString(ProductLanguage));
}

bool TInlay::Allowed() const
{
    return prefs_.PermettreIncruster.Value;
}

bool TInlay::overlay() const
{
    return Allowed() && graph_.OverlayInGraph();
}

bool TInlay::datecode() const
{
    return Allowed() && graph_.DatecodeInGraph();
}

TInlayControls TInlay::controls() const
{
    TInlayControls c = controls_ ? controls_() : TInlayControls{};
    if (c.Format.trimmed().isEmpty()) c.Format = prefs_.FormatDatecode.DefaultValue;
    return c;
}

bool TInlay::timedInlay(const TInlayControls& c) const
{
    return c.Mode == 1 && c.Choice == 0;
}

void TInlay::setToggle(bool on)
{
    if (toggled_ == on) return;
    toggled_ = on;
    emit toggledChanged(on);
}

void TInlay::SetToggled(bool on)
{
    setToggle(on);
}

void TInlay::Toggle()
{
    if (toggled_) {
        setToggle(false);
        Stop();
    } else {
        setToggle(true);
        Start();
    }
    // The toggle and the remembered state never disagree, so the next
    // build does not bring back an inlay the button says is off (or the
    // other way round) when the overlay was not there to answer.
    prefs_.IncrustationOn.Value = toggled_;
    if (!toggled_) timer_.stop();
}

void TInlay::Start()
{
    if (!Allowed()) return;
    const TInlayControls c = controls();
    if (graph_.DatecodeInGraph()) {
        graph_.DatecodeSetEnabled(1);
        graph_.DatecodeSetFormat(c.Format);
        graph_.DatecodeSetInlayFrames(c.Duration * FramesPerSecond(graph_.FrameDuration()));
        graph_.DatecodeSetAutomatic(c.Mode == 1);
        graph_.DatecodeSetHourOffset(c.HourOffset);
    }
    if (timedInlay(c)) {
        // The inlay lasts the duration the panel shows, whatever the
        // duration was when the timer was last set.
        timer_.setInterval(std::max(0, c.Duration) * 1000);
        timer_.start();
    }
    if (!graph_.OverlayInGraph()) return;
    graph_.OverlaySetText(TextFor(c.Choice));
    sendPosition(c);
    if (!graph_.OverlayVersion()) emit caution(CautionText());
    sendFont();
    graph_.OverlaySetDateFormat(c.Format);
    graph_.OverlaySetEnabled(1);
    prefs_.IncrustationOn.Value = true;
}

void TInlay::Stop()
{
    if (!Allowed()) return;
    if (!graph_.OverlayInGraph()) return;
    graph_.OverlaySetEnabled(0);
    prefs_.IncrustationOn.Value = false;
    timer_.stop();
}

void TInlay::Allow(bool allowed)
{
    prefs_.PermettreIncruster.Value = allowed;
    if (!allowed) {
        // Forbidding takes the overlay out of the graph: the inlay is over,
        // and allowing again does not bring it back unasked.
        prefs_.IncrustationOn.Value = false;
        timer_.stop();
        slidersVisible_ = false;
    }
    setToggle(allowed && prefs_.IncrustationOn.Value);
}

void TInlay::AfterBuild()
{
    if (overlay()) graph_.OverlaySetFlip(prefs_.FlipOn.Value);
    if (prefs_.IncrustationOn.Value) Start();
}

bool TInlay::SetFlip(bool flip)
{
    if (!overlay()) {
        prefs_.FlipOn.Value = false;
        return !flip;
    }
    prefs_.FlipOn.Value = flip;
    graph_.OverlaySetFlip(flip);
    return true;
}

void TInlay::ModeClicked(int mode)
{
    if (!toggled_) {
        timer_.stop();
        return;
    }
    if (!overlay()) return;
    TInlayControls c = controls();
    c.Mode = mode;
    if (timedInlay(c)) {
        timer_.setInterval(std::max(0, c.Duration) * 1000);
        timer_.start();
    } else {
        // Manual, or the datecode, which shows itself at each new
        // recording: no end to wait for.
        graph_.OverlaySetEnabled(1);
        timer_.stop();
    }
}

void TInlay::ChoiceClicked(int choice)
{
    if (overlay()) graph_.OverlaySetText(TextFor(choice));
}

void TInlay::DurationChanged(int seconds)
{
    if (Allowed() && graph_.FrameDuration() != 0) timer_.setInterval(std::max(0, seconds) * 1000);
}

void TInlay::HourOffsetChanged(int hours)
{
    if (datecode()) graph_.DatecodeSetHourOffset(hours);
}

void TInlay::FormatChanged(const QString& format)
{
    const QString pattern =
        format.trimmed().isEmpty() ? prefs_.FormatDatecode.DefaultValue : format;
    // The datecode element formats the tape's date; the overlay formats the
    // computer's clock, so both hear of the new pattern.
    if (datecode()) graph_.DatecodeSetFormat(pattern);
    if (overlay()) graph_.OverlaySetDateFormat(pattern);
}

void TInlay::AutoFontSizeClicked(bool automatic)
{
    prefs_.TailleAutomatique.Value = automatic;
    if (overlay()) graph_.OverlaySetAutoFontSize(automatic);
}

void TInlay::ApplyFont()
{
    if (overlay()) sendFont();
}

void TInlay::sendFont()
{
    graph_.OverlaySetAutoFontSize(prefs_.TailleAutomatique.Value);
    const FontAndColor& f = prefs_.IncrustFont.Font;
    int points = f.Font.pointSize();
    if (points <= 0 && f.Font.pixelSize() > 0) points = f.Font.pixelSize() * 72 / 96;
    if (points <= 0) points = prefs_.IncrustFont.DefaultFont.Font.pointSize();
    graph_.OverlaySetFontSize(points);
    graph_.OverlaySetFontName(f.Font.family());
    graph_.OverlaySetFontColor(ColorToRegistry(f.Color) & 0x00FFFFFFu);
    graph_.OverlaySetFontBold(f.Font.bold());
    graph_.OverlaySetFontItalic(f.Font.italic());
    graph_.OverlaySetFontUnderline(f.Font.underline());
    graph_.OverlaySetFontStrikeOut(f.Font.strikeOut());
}

void TInlay::sendPosition(const TInlayControls& c)
{
    graph_.OverlaySetPosition(std::clamp(c.X, 0, kXMax), OverlayY(c.YSlider), 0);
}

void TInlay::PositionChanged()
{
    if (overlay()) sendPosition(controls());
}

bool TInlay::MarkerPressed()
{
    if (!overlay()) return false;
    slidersVisible_ = !slidersVisible_;
    if (slidersVisible_ && !toggled_) Toggle();
    return true;
}

} // namespace kad
