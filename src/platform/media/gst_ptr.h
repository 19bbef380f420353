#pragma once

// Small owning wrappers for GStreamer and GLib references. Every reference
// Kadrillo holds lives in one of these, so an early return never leaks and a
// reference is never dropped twice.

#include <gst/gst.h>

#include <memory>
#include <utility>

namespace kad {

// A GObject reference (elements, pads, buses, devices, ...). Adopts a
// reference the caller already owns; use GRef<T>::ref() to take a new one.
template <typename T> class GRef {
public:
    GRef() = default;
    explicit GRef(T* adopted) : p_(adopted) {}
    GRef(const GRef& other) : p_(other.p_)
    {
        if (p_) g_object_ref(p_);
    }
    GRef(GRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    GRef& operator=(GRef other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }
    ~GRef()
    {
        if (p_) g_object_unref(p_);
    }

    // Takes a new reference to an object owned elsewhere (a borrowed pointer).
    static GRef ref(T* borrowed)
    {
        if (borrowed) g_object_ref(borrowed);
        return GRef(borrowed);
    }
    // Adopts a floating reference (freshly made elements), sinking it.
    static GRef sink(T* floating)
    {
        if (floating) gst_object_ref_sink(floating);
        return GRef(floating);
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* release() { return std::exchange(p_, nullptr); }
    void reset(T* adopted = nullptr)
    {
        GRef tmp(adopted);
        std::swap(p_, tmp.p_);
    }

private:
    T* p_ = nullptr;
};

// A GstMiniObject reference (caps, buffers, samples, messages, events, queries).
template <typename T> class GstMini {
public:
    GstMini() = default;
    explicit GstMini(T* adopted) : p_(adopted) {}
    GstMini(const GstMini& other) : p_(other.p_)
    {
        if (p_) gst_mini_object_ref(GST_MINI_OBJECT_CAST(p_));
    }
    GstMini(GstMini&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    GstMini& operator=(GstMini other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }
    ~GstMini()
    {
        if (p_) gst_mini_object_unref(GST_MINI_OBJECT_CAST(p_));
    }

    static GstMini ref(T* borrowed)
    {
        if (borrowed) gst_mini_object_ref(GST_MINI_OBJECT_CAST(borrowed));
        return GstMini(borrowed);
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* release() { return std::exchange(p_, nullptr); }
    void reset(T* adopted = nullptr)
    {
        GstMini tmp(adopted);
        std::swap(p_, tmp.p_);
    }

private:
    T* p_ = nullptr;
};

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
struct GErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};
struct GstStructureDeleter {
    void operator()(GstStructure* s) const { gst_structure_free(s); }
};

using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using GstStructurePtr = std::unique_ptr<GstStructure, GstStructureDeleter>;

using ElementRef = GRef<GstElement>;
using PadRef = GRef<GstPad>;
using BusRef = GRef<GstBus>;
using CapsRef = GstMini<GstCaps>;
using BufferRef = GstMini<GstBuffer>;
using SampleRef = GstMini<GstSample>;
using MessageRef = GstMini<GstMessage>;

// Holds a buffer mapped for reading or writing and unmaps it on scope exit.
class BufferMap {
public:
    BufferMap(GstBuffer* buffer, GstMapFlags flags)
        : buffer_(buffer), ok_(buffer && gst_buffer_map(buffer, &info_, flags))
    {
    }
    BufferMap(const BufferMap&) = delete;
    BufferMap& operator=(const BufferMap&) = delete;
    ~BufferMap()
    {
        if (ok_) gst_buffer_unmap(buffer_, &info_);
    }

    explicit operator bool() const { return ok_; }
    guint8* data() const { return info_.data; }
    gsize size() const { return info_.size; }

private:
    GstBuffer* buffer_;
    GstMapInfo info_{};
    bool ok_;
};

} // namespace kad
