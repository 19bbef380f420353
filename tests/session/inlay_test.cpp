// The inlay's logic against a pair of recording stand-ins for the overlay and
// datecode elements: what each action sends, in which order, and what it
// leaves in the preferences and the timer.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSize>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <type_traits>

#include "session/inlay.h"
#include "settings/preferences.h"

namespace kad {
namespace {

// Records every operation as "overlay:name(args)" or "datecode:name(args)".
class RecordingGraph final : public TInlayGraph {
public:
    bool overlayIn = true;
    bool datecodeIn = true;
    qint64 frameDuration = 400000; // PAL
    bool versionAnswers = true;
    QStringList calls;

    bool OverlayInGraph() const override { return overlayIn; }
    bool DatecodeInGraph() const override { return datecodeIn; }
    qint64 FrameDuration() const override { return frameDuration; }

    void OverlaySetText(const QString& t) override { o("SetText", t); }
    void OverlaySetEnabled(int e) override { o("SetEnabled", e); }
    void OverlaySetAutoFontSize(bool a) override { o("SetAutoFontSize", a); }
    void OverlaySetFontSize(int p) override { o("SetFontSize", p); }
    void OverlaySetFontName(const QString& f) override { o("SetFontName", f); }
    void OverlaySetFontColor(quint32 c) override { o("SetFontColor", QString::number(c, 16)); }
    void OverlaySetFontBold(bool b) override { o("SetFontBold", b); }
    void OverlaySetFontItalic(bool b) override { o("SetFontItalic", b); }
    void OverlaySetFontUnderline(bool b) override { o("SetFontUnderline", b); }
    void OverlaySetFontStrikeOut(bool b) override { o("SetFontStrikeOut", b); }
    std::optional<QString> OverlayVersion() override
    {
        calls << QStringLiteral("overlay:GetVersion");
        if (!versionAnswers) return std::nullopt;
        return QStringLiteral("3.0");
    }
    void OverlaySetFlip(bool f) override { o("SetFlip", f); }
    void OverlaySetPosition(int x, int y, int r) override
    {
        calls << QStringLiteral("overlay:SetPosition(%1,%2,%3)").arg(x).arg(y).arg(r);
    }
    void OverlaySetDateFormat(const QString& p) override { o("SetDateFormat", p); }

    void DatecodeSetHourOffset(int h) override { d("SetHourOffset", h); }
    void DatecodeSetFormat(const QString& p) override { d("SetFormat", p); }
    void DatecodeSetEnabled(int e) override { d("SetEnabled", e); }
    void DatecodeSetInlayFrames(int f) override { d("SetInlayFrames", f); }
    void DatecodeSetAutomatic(bool a) override { d("SetAutomatic", a); }

    bool has(const QString& call) const { return calls.contains(call); }

private:
    template <typename T> void o(const char* name, const T& v) { add("overlay", name, v); }
    template <typename T> void d(const char* name, const T& v) { add("datecode", name, v); }
    template <typename T> void add(const char* who, const char* name, const T& v)
    {
        QString value;
        if constexpr (std::is_same_v<T, bool>)
            value = v ? QStringLiteral("true") : QStringLiteral("false");
        else
            value = QStringLiteral("%1").arg(v);
        calls << QStringLiteral("%1:%2(%3)").arg(QLatin1String(who), QLatin1String(name), value);
    }
};

class InlayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        prefs = std::make_unique<Preferences>(
            ComputePreferenceDefaults(QSize(1024, 768), QSize(700, 459)));
        prefs->PermettreIncruster.Value = true;
        timer.setSingleShot(true);
        timer.setInterval(5000);
        inlay = std::make_unique<TInlay>(*prefs, graph, timer);
        controls.Format = QStringLiteral("dddddd hh:nn:ss");
        inlay->SetControlsSource([this] { return controls; });
    }

    std::unique_ptr<Preferences> prefs;
    RecordingGraph graph;
    QTimer timer;
    TInlayControls controls;
    std::unique_ptr<TInlay> inlay;
};

TEST_F(InlayTest, StartConfiguresTheDatecodeThenTheOverlayAndEndsByShowingIt)
{
    controls.Choice = 1;
    controls.HourOffset = -3;
    controls.X = 500;
    controls.YSlider = 200;
    prefs->IncrustFont.Font.Font.setFamily(QStringLiteral("DejaVu Sans"));
    prefs->IncrustFont.Font.Font.setPointSize(30);
    prefs->IncrustFont.Font.Font.setItalic(true);
    prefs->IncrustFont.Font.Color = QColor(0x10, 0x20, 0x30);
    inlay->Toggle();

    ASSERT_FALSE(graph.calls.isEmpty());
    // Every datecode operation comes before the first overlay operation
    // (the patterns match whole entries).
    const qsizetype lastDatecode = graph.calls.lastIndexOf(QRegularExpression("datecode:.*"));
    const qsizetype firstOverlay = graph.calls.indexOf(QRegularExpression("overlay:.*"));
    EXPECT_LT(lastDatecode, firstOverlay);
    // The overlay is shown last, once it has its text, place and font.
    EXPECT_EQ(graph.calls.last(), "overlay:SetEnabled(1)");
    for (const char* call :
         {"datecode:SetHourOffset(-3)", "datecode:SetAutomatic(false)", "datecode:SetEnabled(1)",
          "overlay:SetText(%D)", "overlay:SetPosition(500,730,0)",
          "overlay:SetFontName(DejaVu Sans)", "overlay:SetFontItalic(true)",
          "overlay:SetFontColor(302010)" /* 0x00BBGGRR */})
        EXPECT_TRUE(graph.has(call)) << call;
    EXPECT_TRUE(inlay->Toggled());
    EXPECT_TRUE(prefs->IncrustationOn.Value);
    EXPECT_FALSE(timer.isActive()) << "manual mode has no end";
}

TEST_F(InlayTest, StopTellsOnlyTheOverlayAndTheTimerEnds)
{
    controls.Mode = 1;
    inlay->Toggle();
    ASSERT_TRUE(timer.isActive());
    graph.calls.clear();

    inlay->Toggle();
    EXPECT_EQ(graph.calls, QStringList({"overlay:SetEnabled(0)"}));
    EXPECT_FALSE(inlay->Toggled());
    EXPECT_FALSE(prefs->IncrustationOn.Value);
    EXPECT_FALSE(timer.isActive());
}

TEST_F(InlayTest, AutoModeEndsByItselfOnlyForTheComputersClock)
{
    // Real date and time: the timer ends the inlay after the duration.
    controls.Mode = 1;
    controls.Choice = 0;
    controls.Duration = 3;
    inlay->Start();
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 3000);
    EXPECT_TRUE(graph.has("overlay:SetText(%N)"));
    inlay->Stop();

    // The datecode shows itself at each new recording for its frames:
    // 5 s at 25 frames per second, and no timer.
    graph.calls.clear();
    controls.Choice = 1;
    controls.Duration = 5;
    inlay->Start();
    EXPECT_FALSE(timer.isActive());
    EXPECT_TRUE(graph.has("datecode:SetInlayFrames(125)"));
    EXPECT_TRUE(graph.has("datecode:SetAutomatic(true)"));

    // NTSC's 333667 units per frame make 29 whole frames per second.
    graph.calls.clear();
    graph.frameDuration = 333667;
    inlay->Start();
    EXPECT_TRUE(graph.has("datecode:SetInlayFrames(145)"));

    // A graph that does not know its format yet does not divide by zero.
    graph.calls.clear();
    graph.frameDuration = 0;
    inlay->Start();
    EXPECT_TRUE(graph.has("datecode:SetInlayFrames(125)"));
}

TEST_F(InlayTest, PositionSentIsTheSlidersWithTheVerticalTurnedOver)
{
    EXPECT_EQ(TInlay::OverlayY(930), 0);
    EXPECT_EQ(TInlay::OverlayY(0), 930);
    EXPECT_EQ(TInlay::OverlayY(2000), 0) << "out of range is clamped";

    controls.X = 970;
    controls.YSlider = 930;
    inlay->PositionChanged();
    controls.X = 1200;
    controls.YSlider = 0;
    inlay->PositionChanged();
    EXPECT_EQ(graph.calls,
              QStringList({"overlay:SetPosition(970,0,0)", "overlay:SetPosition(970,930,0)"}));

    graph.overlayIn = false;
    graph.calls.clear();
    inlay->PositionChanged();
    EXPECT_TRUE(graph.calls.isEmpty()) << "no overlay in the graph, nothing sent";
}

TEST_F(InlayTest, ANonDVSourceOffersOnlyTheClockAndAStoredDatecodeChoiceFallsBack)
{
    const TInlayChoices nonDV = TInlay::AdaptChoices(false, 1);
    EXPECT_EQ(nonDV.Count, 1);
    EXPECT_EQ(nonDV.Selected, 0);
    EXPECT_FALSE(nonDV.OffsetVisible);

    const TInlayChoices dv = TInlay::AdaptChoices(true, 1);
    EXPECT_EQ(dv.Count, 2);
    EXPECT_EQ(dv.Selected, 1);
    EXPECT_TRUE(dv.OffsetVisible);

    const TInlayChoices nothingChosen = TInlay::AdaptChoices(true, -1);
    EXPECT_EQ(nothingChosen.Selected, 0);
    EXPECT_FALSE(nothingChosen.OffsetVisible);
}

TEST_F(InlayTest, ForbiddingAndAllowingAgainKeepsTheToggleAndTheRememberedStateInStep)
{
    inlay->Toggle();
    ASSERT_TRUE(inlay->Toggled());
    ASSERT_TRUE(prefs->IncrustationOn.Value);

    inlay->Allow(false);
    EXPECT_FALSE(prefs->PermettreIncruster.Value);
    EXPECT_FALSE(inlay->Toggled());
    EXPECT_FALSE(prefs->IncrustationOn.Value);

    // The rebuilt graph has the overlay again: the inlay does not come back
    // behind a button that reads "Inlay".
    inlay->Allow(true);
    graph.calls.clear();
    inlay->AfterBuild();
    EXPECT_FALSE(inlay->Toggled());
    EXPECT_FALSE(prefs->IncrustationOn.Value);
    EXPECT_FALSE(graph.has("overlay:SetEnabled(1)"));

    // While forbidden, nothing reaches the elements.
    inlay->Allow(false);
    graph.calls.clear();
    inlay->Start();
    inlay->HourOffsetChanged(2);
    inlay->FormatChanged(QStringLiteral("hh"));
    inlay->ApplyFont();
    EXPECT_FALSE(inlay->SetFlip(true));
    EXPECT_TRUE(graph.calls.isEmpty()) << graph.calls.join(u' ').toStdString();
}

TEST_F(InlayTest, AnInlayRunningAtTheLastExitStartsAgainAfterTheBuildWithTheFlipFirst)
{
    prefs->IncrustationOn.Value = true;
    prefs->FlipOn.Value = true;
    inlay->Allow(true);
    EXPECT_TRUE(inlay->Toggled());
    inlay->AfterBuild();
    ASSERT_FALSE(graph.calls.isEmpty());
    EXPECT_EQ(graph.calls.first(), "overlay:SetFlip(true)");
    EXPECT_EQ(graph.calls.last(), "overlay:SetEnabled(1)");
}

TEST_F(InlayTest, AnOverlayThatCannotTellItsVersionGivesOneCautionAndTheInlayGoesOn)
{
    graph.versionAnswers = false;
    QStringList shown;
    QObject::connect(inlay.get(), &TInlay::caution, [&shown](const QString& t) { shown << t; });
    inlay->Start();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown.first().startsWith("Caution:\n\n"));
    EXPECT_TRUE(shown.first().contains("Kadrillo 3.3c En")) << shown.first().toStdString();
    EXPECT_EQ(graph.calls.last(), "overlay:SetEnabled(1)");
    EXPECT_TRUE(prefs->IncrustationOn.Value);
}

TEST_F(InlayTest, PanelHandlersReachTheRightElement)
{
    // The clock's text is formatted by the overlay, the tape's by the
    // datecode element: a new pattern goes to both.
    inlay->FormatChanged(QStringLiteral("hh:nn"));
    EXPECT_TRUE(graph.has("datecode:SetFormat(hh:nn)"));
    EXPECT_TRUE(graph.has("overlay:SetDateFormat(hh:nn)"));
    graph.calls.clear();
    inlay->FormatChanged(QString());
    EXPECT_TRUE(graph.has("overlay:SetDateFormat(dddddd hh:nn:ss)")) << "empty: the default";

    graph.calls.clear();
    inlay->ChoiceClicked(1);
    inlay->HourOffsetChanged(-23);
    EXPECT_EQ(graph.calls, QStringList({"overlay:SetText(%D)", "datecode:SetHourOffset(-23)"}));

    graph.calls.clear();
    inlay->AutoFontSizeClicked(false);
    EXPECT_FALSE(prefs->TailleAutomatique.Value);
    EXPECT_EQ(graph.calls, QStringList({"overlay:SetAutoFontSize(false)"}));

    // Switching to Auto while a clock inlay runs arms the timer; back to
    // Manual shows the inlay again and disarms it.
    inlay->Toggle();
    controls.Mode = 1;
    inlay->ModeClicked(1);
    EXPECT_TRUE(timer.isActive());
    graph.calls.clear();
    controls.Mode = 0;
    inlay->ModeClicked(0);
    EXPECT_FALSE(timer.isActive());
    EXPECT_EQ(graph.calls, QStringList({"overlay:SetEnabled(1)"}));
}

} // namespace
} // namespace kad
