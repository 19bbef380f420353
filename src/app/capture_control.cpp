#include "app/capture_control.h"

#include <QAction>

#include "app/source_selection.h"
#include "session/capture_settings.h"
#include "ui/capture_form.h"
#include "ui/sources_panel.h"

namespace kad {

void BindCaptureSession(TCaptureSession& session, TProgramParts& parts, TSourceSelection& sources)
{
    TCaptureForm* form = parts.Form;
    TProgramParts* p = &parts;
    TSourceSelection* src = &sources;
    TCaptureSession* s = &session;

    QObject::connect(s, &TCaptureSession::graphOptionsWanted, src,
                     [src] { src->FillGraphOptions(); });
    QObject::connect(s, &TCaptureSession::captureOptionsWanted, src, [src, p, s] {
        src->FillCaptureOptions();
        TCaptureChoices choices;
        choices.FormatName = p->SourcesFrame->rgFormat->selectedText();
        choices.CaptureReport = p->Settings.CaptureReport;
        choices.SplitAtRecording = p->Settings.SplitAtRecording;
        choices.NameByRecordingDate = p->Settings.NameByRecordingDate;
        s->SetChoices(choices);
    });
    QObject::connect(s, &TCaptureSession::currentFileChanged, form, [s, src](const QString& name) {
        s->SetVideoFileName(name);
        src->ShowVideoName(name);
    });
    QObject::connect(s, &TCaptureSession::nameAfterCapture, s,
                     [s](const QString& name) { s->SetVideoFileName(name); });
    QObject::connect(s, &TCaptureSession::videoNameShown, src,
                     [src](const QString& name) { src->ShowVideoName(name); });
    QObject::connect(s, &TCaptureSession::statusText, form,
                     [form](const QString& text) { form->SetStatusText(1, text); });
    // The window goes back to the preview as if stopped by hand.
    QObject::connect(s, &TCaptureSession::captureEndedByItself, form, [form] {
        form->Action(ActionId::acCapturerBascule)->setChecked(false);
        form->acCapturerBasculeExecute();
    });
}

} // namespace kad
