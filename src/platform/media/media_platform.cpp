#include "platform/media/media_platform.h"

namespace kad {

namespace {

QString limited(const QString& text)
{
    return text.left(kMediaErrorTextMax);
}

struct Version {
    guint major = 0;
    guint minor = 0;
    guint micro = 0;
    guint nano = 0;
};

Version libraryVersion()
{
    Version v;
    gst_version(&v.major, &v.minor, &v.micro, &v.nano);
    return v;
}

} // namespace

QString MediaPlatformVersion()
{
    const Version v = libraryVersion();
    QString text = QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.micro);
    if (v.nano > 0) text += QStringLiteral(".%1").arg(v.nano);
    return text;
}

unsigned MediaPlatformMajor()
{
    return libraryVersion().major;
}

unsigned MediaPlatformMinor()
{
    return libraryVersion().minor;
}

QString MediaErrorText(const GError* error)
{
    if (!error) return {};
    if (!error->message || !*error->message)
        return limited(QStringLiteral("Unknown error %1 of %2")
                           .arg(error->code)
                           .arg(QString::fromUtf8(g_quark_to_string(error->domain))));
    return limited(QString::fromUtf8(error->message));
}

QString MediaErrorText(GstPadLinkReturn result)
{
    switch (result) {
    case GST_PAD_LINK_OK:
        return QStringLiteral("The pads were linked.");
    case GST_PAD_LINK_WRONG_HIERARCHY:
        return QStringLiteral("The pads cannot be linked: they are not in the same bin.");
    case GST_PAD_LINK_WAS_LINKED:
        return QStringLiteral("The pads cannot be linked: one of them is already linked.");
    case GST_PAD_LINK_WRONG_DIRECTION:
        return QStringLiteral("The pads cannot be linked: their directions do not match.");
    case GST_PAD_LINK_NOFORMAT:
        return QStringLiteral("The pads cannot be linked: they have no format in common.");
    case GST_PAD_LINK_NOSCHED:
        return QStringLiteral("The pads cannot be linked: they cannot cooperate in scheduling.");
    case GST_PAD_LINK_REFUSED:
        return QStringLiteral("The pads cannot be linked: the link was refused.");
    }
    return limited(QStringLiteral("Unknown pad link result %1.").arg(static_cast<int>(result)));
}

QString MediaErrorText(GstStateChangeReturn result)
{
    switch (result) {
    case GST_STATE_CHANGE_SUCCESS:
        return QStringLiteral("The state change succeeded.");
    case GST_STATE_CHANGE_ASYNC:
        return QStringLiteral("The state change will complete asynchronously.");
    case GST_STATE_CHANGE_NO_PREROLL:
        return QStringLiteral(
            "The state change succeeded; the live source produces no data while paused.");
    case GST_STATE_CHANGE_FAILURE:
        return QStringLiteral("The state change failed.");
    }
    return limited(QStringLiteral("Unknown state change result %1.").arg(static_cast<int>(result)));
}

QString MediaErrorText(GstFlowReturn result)
{
    switch (result) {
    case GST_FLOW_OK:
        return QStringLiteral("The data flowed.");
    case GST_FLOW_NOT_LINKED:
        return QStringLiteral("The data could not flow: a pad is not linked.");
    case GST_FLOW_FLUSHING:
        return QStringLiteral("The data could not flow: a pad is flushing.");
    case GST_FLOW_EOS:
        return QStringLiteral("The data could not flow: the stream has ended.");
    case GST_FLOW_NOT_NEGOTIATED:
        return QStringLiteral("The data could not flow: the format was not negotiated.");
    case GST_FLOW_ERROR:
        return QStringLiteral("The data could not flow: an element failed.");
    case GST_FLOW_NOT_SUPPORTED:
        return QStringLiteral("The data could not flow: the operation is not supported.");
    default:
        break;
    }
    return limited(QStringLiteral("Data flow result %1 (%2).")
                       .arg(static_cast<int>(result))
                       .arg(QString::fromUtf8(gst_flow_get_name(result))));
}

} // namespace kad
