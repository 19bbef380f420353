#include "virtual/virtual_tape.h"

namespace kad::tape {

namespace {

// Tape motion per frame sent, in tenths of a tape frame.
constexpr gint64 kStepPlay = 10;
constexpr gint64 kStepSlow = 2;
constexpr gint64 kStepFastPlay = 100;
constexpr gint64 kStepWind = 300;

} // namespace

gint64 stepOf(gint mode)
{
    switch (mode) {
    case KAD_TRANSPORT_PLAY:
        return kStepPlay;
    case KAD_TRANSPORT_PLAY_SLOWEST_FORWARD:
        return kStepSlow;
    case KAD_TRANSPORT_PLAY_SLOWEST_REVERSE:
        return -kStepSlow;
    case KAD_TRANSPORT_PLAY_FASTEST_FORWARD:
        return kStepFastPlay;
    case KAD_TRANSPORT_PLAY_FASTEST_REVERSE:
        return -kStepFastPlay;
    case KAD_TRANSPORT_FAST_FORWARD:
        return kStepWind;
    case KAD_TRANSPORT_REWIND:
        return -kStepWind;
    default:
        return 0;
    }
}

bool validMode(gint mode)
{
    return mode == KAD_TRANSPORT_STOP || mode == KAD_TRANSPORT_FREEZE || stepOf(mode) != 0;
}

KadTimecode timecodeAt(guint fps, guint64 frame)
{
    const guint64 seconds = frame / fps;
    return KadTimecode{static_cast<guint>(seconds / 3600), static_cast<guint>((seconds / 60) % 60),
                       static_cast<guint>(seconds % 60), static_cast<guint>(frame % fps)};
}

CapsRef dvStreamCaps()
{
    return CapsRef(gst_caps_from_string("video/x-dv, systemstream=(boolean)true"));
}

void installModeProperty(GObjectClass* klass, guint id)
{
    g_object_class_install_property(
        klass, id,
        g_param_spec_int("transport-mode", "Transport mode",
                         "Tape transport mode (0x10C8 play, 0x10C9 stop, 0x10CA freeze, ...)", 0,
                         G_MAXINT, KAD_TRANSPORT_PLAY,
                         static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
}

} // namespace kad::tape
