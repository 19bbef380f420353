#pragma once

// The date and time inlay: starting and stopping it, the timed inlay of the
// Auto mode, allowing and forbidding inlays, and what the inlay panel's
// controls send to the overlay and datecode elements while the graph runs.
//
// The elements are reached through TInlayGraph, so the logic runs (and is
// tested) without a pipeline; TdmCamInlayGraph is the real one over the data
// module's "Lumatex" and "Chronix" slots. Every operation is issued only
// while inlays are allowed and its element is in the current graph.
//
// Headless (Qt Core only), GUI thread.

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

namespace kad {

class Preferences;
class TdmCam;

// The overlay ("Tavrel Lumatex3") and datecode ("Tavrel Chronix2") elements
// of the current graph, and the frame duration the graph runs at.
class TInlayGraph {
public:
    virtual ~TInlayGraph() = default;

    // The element is in the current graph and answers its operations.
    virtual bool OverlayInGraph() const = 0;
    virtual bool DatecodeInGraph() const = 0;
    // 100-ns units per frame; 0 while no format is known.
    virtual qint64 FrameDuration() const = 0;

    virtual void OverlaySetText(const QString& text) = 0;
    virtual void OverlaySetEnabled(int enabled) = 0;
    virtual void OverlaySetAutoFontSize(bool automatic) = 0;
    virtual void OverlaySetFontSize(int points) = 0;
    virtual void OverlaySetFontName(const QString& face) = 0;
    virtual void OverlaySetFontColor(quint32 bbggrr) = 0;
    virtual void OverlaySetFontBold(bool on) = 0;
    virtual void OverlaySetFontItalic(bool on) = 0;
    virtual void OverlaySetFontUnderline(bool on) = 0;
    virtual void OverlaySetFontStrikeOut(bool on) = 0;
    // The element's version text; nothing when it cannot tell.
    virtual std::optional<QString> OverlayVersion() = 0;
    virtual void OverlaySetFlip(bool flip) = 0;
    virtual void OverlaySetPosition(int x, int y, int reserved) = 0;
    virtual void OverlaySetDateFormat(const QString& pattern) = 0;

    virtual void DatecodeSetHourOffset(int hours) = 0;
    virtual void DatecodeSetFormat(const QString& pattern) = 0;
    virtual void DatecodeSetEnabled(int enabled) = 0;
    virtual void DatecodeSetInlayFrames(int frames) = 0;
    virtual void DatecodeSetAutomatic(bool automatic) = 0;
};

// The elements of the data module's graph, driven through their action
// signals; an element that lacks them does not answer.
class TdmCamInlayGraph final : public TInlayGraph {
public:
    explicit TdmCamInlayGraph(TdmCam& cam) : cam_(cam) {}

    bool OverlayInGraph() const override;
    bool DatecodeInGraph() const override;
    qint64 FrameDuration() const override;

    void OverlaySetText(const QString& text) override;
    void OverlaySetEnabled(int enabled) override;
    void OverlaySetAutoFontSize(bool automatic) override;
    void OverlaySetFontSize(int points) override;
    void OverlaySetFontName(const QString& face) override;
    void OverlaySetFontColor(quint32 bbggrr) override;
    void OverlaySetFontBold(bool on) override;
    void OverlaySetFontItalic(bool on) override;
    void OverlaySetFontUnderline(bool on) override;
    void OverlaySetFontStrikeOut(bool on) override;
    std::optional<QString> OverlayVersion() override;
    void OverlaySetFlip(bool flip) override;
    void OverlaySetPosition(int x, int y, int reserved) override;
    void OverlaySetDateFormat(const QString& pattern) override;

    void DatecodeSetHourOffset(int hours) override;
    void DatecodeSetFormat(const QString& pattern) override;
    void DatecodeSetEnabled(int enabled) override;
    void DatecodeSetInlayFrames(int frames) override;
    void DatecodeSetAutomatic(bool automatic) override;

private:
    TdmCam& cam_;
};

// What the inlay panel and the position sliders show at the moment.
struct TInlayControls {
    QString Format;     // edFormat
    int Mode = 0;       // rgMode: 0 Manual, 1 Auto
    int Duration = 5;   // RxSpinEdit1, seconds
    int Choice = 0;     // rgChoix: 0 real date and time, 1 DV datecode
    int HourOffset = 0; // RxSpinEdit2
    int X = 930;        // Xslider, 0..970
    int YSlider = 70;   // Yslider, 0..930 (0 at the top)
};

// The items the source offers in rgChoix and which one ends up selected.
struct TInlayChoices {
    int Count = 1;              // "Real date and time", then "DV datecode" for DV
    int Selected = 0;           // the previous choice when it still exists
    bool OffsetVisible = false; // gbDecalage: a DV source choosing the datecode
};

class TInlay : public QObject {
    Q_OBJECT
public:
    // timer: the window's TimerLumatex (one-shot); its timeout must end in
    // Toggle().
    TInlay(Preferences& prefs, TInlayGraph& graph, QTimer& timer, QObject* parent = nullptr);

    // Reads the panel's controls; until set, the defaults of TInlayControls.
    void SetControlsSource(std::function<TInlayControls()> source);

    static constexpr int kYSliderMax = 930;
    static constexpr int kXMax = 970;
    // The position the overlay receives for the sliders' values: the
    // vertical slider counts down from the top, the overlay up from the
    // bottom, so that the handle stays level with the text.
    static int OverlayY(int ySlider);
    // Whole frames per second of a frame duration (25 when unknown).
    static int FramesPerSecond(qint64 frameDuration);
    // rgChoix after the source changed.
    static TInlayChoices AdaptChoices(bool sourceIsDV, int previousChoice);
    // "%N" for the computer's clock, "%D" for the datecode.
    static QString TextFor(int choice);
    // The message shown when the overlay cannot tell its version.
    static QString CautionText();

    bool Allowed() const;
    // acIncruster's checked state: an inlay is wanted.
    bool Toggled() const { return toggled_; }
    // Sets the toggle without running anything (start-up: "Incrustation On").
    void SetToggled(bool on);

    // acIncruster.
    void Toggle();
    // acStartIncruster / acStopIncruster.
    void Start();
    void Stop();
    // acAllowIncrust's state changed.
    void Allow(bool allowed);
    // After every successful build of a preview or capture graph: the flip,
    // then the inlay again when one was running.
    void AfterBuild();
    // acFlip: false (and "Flip On" false) when the overlay is not there to
    // turn the picture.
    bool SetFlip(bool flip);

    // Panel handlers, with the control's new value.
    void ModeClicked(int mode);
    void ChoiceClicked(int choice);
    void DurationChanged(int seconds);
    void HourOffsetChanged(int hours);
    void FormatChanged(const QString& format);
    void AutoFontSizeClicked(bool automatic);
    // "IncrustFont" was chosen (or the dialog closed): the font operations.
    void ApplyFont();
    void PositionChanged();
    // Shape1 pressed: the sliders are shown or hidden (only while the
    // overlay is in the graph); showing them starts an inlay so the
    // position can be seen. True when the sliders' visibility changed.
    bool MarkerPressed();
    bool SlidersVisible() const { return slidersVisible_; }
    void SetSlidersVisible(bool visible) { slidersVisible_ = visible; }

signals:
    // The toggle changed (caption, hint and picture of acIncruster follow).
    void toggledChanged(bool on);
    // The overlay could not tell its version; shown once per start.
    void caution(const QString& text);

private:
    bool overlay() const;
    bool datecode() const;
    TInlayControls controls() const;
    void sendFont();
    void sendPosition(const TInlayControls& c);
    void setToggle(bool on);
    bool timedInlay(const TInlayControls& c) const;

    Preferences& prefs_;
    TInlayGraph& graph_;
    QTimer& timer_;
    std::function<TInlayControls()> controls_;
    bool toggled_ = false;
    bool slidersVisible_ = false;
};

} // namespace kad
