#pragma once

// An analog TV card as the V4L2 driver presents it: one picture control, a
// capture format list, a tuner with sound modes, video standards and a
// frequency. Every port opened on it reaches the same card; the next
// setting call can be made to fail with an errno.

#include <cstring>
#include <linux/videodev2.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/media/v4l2_controls.h"

namespace kadtest {

class FakeTvCard {
public:
    // The card's state, as a test reads and sets it.
    uint32_t Capability =
        V4L2_TUNER_CAP_NORM | V4L2_TUNER_CAP_STEREO | V4L2_TUNER_CAP_LANG1 | V4L2_TUNER_CAP_LANG2;
    uint32_t AudioMode = V4L2_TUNER_MODE_STEREO;
    v4l2_std_id Standard = V4L2_STD_PAL_BG;
    uint32_t Frequency = 0;
    uint32_t RangeLow = 44 * 16;   // 44 MHz in 62.5 kHz steps
    uint32_t RangeHigh = 958 * 16; // 958 MHz
    int Brightness = 128;
    bool HasTuner = true;
    // errno for the next S_TUNER, S_STD, S_FREQUENCY or S_CTRL only.
    int RefuseNext = 0;
    int SetCalls = 0;

    struct Standard_ {
        v4l2_std_id Id;
        const char* Name;
    };
    std::vector<Standard_> Standards{
        {V4L2_STD_PAL_BG, "PAL-BG"}, {V4L2_STD_NTSC_M, "NTSC-M"}, {V4L2_STD_SECAM_L, "SECAM-L"}};

    // A port on the card, as opening its node gives.
    std::unique_ptr<kad::V4l2Ioctl> Port()
    {
        struct Port final : kad::V4l2Ioctl {
            explicit Port(FakeTvCard& card) : card(card) {}
            int Call(unsigned long request, void* arg) override { return card.Call(request, arg); }
            FakeTvCard& card;
        };
        return std::make_unique<Port>(*this);
    }

    int Call(unsigned long request, void* arg)
    {
        switch (request) {
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const uint32_t id = q->id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
            const bool next = q->id & V4L2_CTRL_FLAG_NEXT_CTRL;
            if (next ? id >= V4L2_CID_BRIGHTNESS : id != V4L2_CID_BRIGHTNESS) return EINVAL;
            *q = v4l2_queryctrl{};
            q->id = V4L2_CID_BRIGHTNESS;
            q->type = V4L2_CTRL_TYPE_INTEGER;
            std::strcpy(reinterpret_cast<char*>(q->name), "Brightness");
            q->maximum = 255;
            q->step = 1;
            q->default_value = 128;
            return 0;
        }
        case VIDIOC_G_CTRL:
            static_cast<v4l2_control*>(arg)->value = Brightness;
            return 0;
        case VIDIOC_S_CTRL:
            if (int refused = refusal()) return refused;
            Brightness = static_cast<v4l2_control*>(arg)->value;
            return 0;
        case VIDIOC_ENUM_FMT: {
            auto* d = static_cast<v4l2_fmtdesc*>(arg);
            // The card's own tiled format cannot be delivered as raw video.
            static const uint32_t formats[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_HM12};
            if (d->index >= 2) return EINVAL;
            d->pixelformat = formats[d->index];
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            if (s->index >= 2) return EINVAL;
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete =
                s->index == 0 ? v4l2_frmsize_discrete{720, 576} : v4l2_frmsize_discrete{360, 288};
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* i = static_cast<v4l2_frmivalenum*>(arg);
            if (i->index > 0) return EINVAL;
            i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            i->discrete = {1, 25};
            return 0;
        }
        case VIDIOC_G_TUNER: {
            auto* t = static_cast<v4l2_tuner*>(arg);
            if (!HasTuner || t->index != 0) return EINVAL;
            std::strcpy(reinterpret_cast<char*>(t->name), "Television");
            t->type = V4L2_TUNER_ANALOG_TV;
            t->capability = Capability;
            t->rangelow = RangeLow;
            t->rangehigh = RangeHigh;
            t->audmode = AudioMode;
            return 0;
        }
        case VIDIOC_S_TUNER: {
            auto* t = static_cast<v4l2_tuner*>(arg);
            if (!HasTuner || t->index != 0) return EINVAL;
            if (int refused = refusal()) return refused;
            AudioMode = t->audmode;
            return 0;
        }
        case VIDIOC_ENUMSTD: {
            auto* s = static_cast<v4l2_standard*>(arg);
            if (s->index >= Standards.size()) return EINVAL;
            s->id = Standards[s->index].Id;
            std::strcpy(reinterpret_cast<char*>(s->name), Standards[s->index].Name);
            return 0;
        }
        case VIDIOC_G_STD:
            *static_cast<v4l2_std_id*>(arg) = Standard;
            return 0;
        case VIDIOC_S_STD: {
            if (int refused = refusal()) return refused;
            const v4l2_std_id wanted = *static_cast<v4l2_std_id*>(arg);
            for (const auto& s : Standards)
                if (s.Id == wanted) {
                    Standard = wanted;
                    return 0;
                }
            return EINVAL;
        }
        case VIDIOC_G_FREQUENCY: {
            auto* f = static_cast<v4l2_frequency*>(arg);
            if (!HasTuner || f->tuner != 0) return EINVAL;
            f->frequency = Frequency;
            return 0;
        }
        case VIDIOC_S_FREQUENCY: {
            auto* f = static_cast<v4l2_frequency*>(arg);
            if (!HasTuner || f->tuner != 0 || f->type != V4L2_TUNER_ANALOG_TV) return EINVAL;
            if (int refused = refusal()) return refused;
            Frequency = f->frequency;
            return 0;
        }
        default:
            return ENOTTY;
        }
    }

private:
    int refusal()
    {
        ++SetCalls;
        return std::exchange(RefuseNext, 0);
    }
};

} // namespace kadtest
