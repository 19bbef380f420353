#pragma once

// The window's side of the date and time inlay: the inlay actions, the
// inlay panel's controls, the position sliders and their corner marker, the
// font dialog and the flip switch, all handed to one TInlay; and the
// inlay's answers (the toggle's caption and picture, the caution message)
// shown in the window.
//
// GUI thread only.

#include <QObject>

#include <memory>

#include "app/program_parts.h"

namespace kad {

class TInlay;
class TdmCamInlayGraph;

class TInlayBinding : public QObject {
    Q_OBJECT
public:
    TInlayBinding(TProgramParts& parts, QObject* parent = nullptr);
    ~TInlayBinding() override;

    // Connects the controls and fills the window's inlay hooks.
    void Bind();

    TInlay& Inlay() const { return *inlay_; }

    // acAllowIncrust with its new state.
    void AllowIncrust(bool allowed);
    // The panel after the source or the permission changed.
    void AdaptPanel();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showToggle(bool on);
    void chooseFont();
    void showSliders(bool visible);

    TProgramParts& p_;
    std::unique_ptr<TdmCamInlayGraph> graph_;
    TInlay* inlay_ = nullptr;
};

} // namespace kad
