#pragma once

// TfileSwitch: the lossless cut for writers made of a muxer and a file sink
// (the capture's Windows Media writer, asfmux ! filesink; any muxer with
// request inputs, avimux too). While the graph keeps running it moves the
// writer to a new file:
//
//   1. the first buffer to arrive on any input after the request sets the
//      cut T (its running time), or, while a video input runs, its first key
//      frame (the encoders are asked for one at once); every input is held at
//      its first buffer starting at or after T, so video is cut at a frame and
//      audio at a buffer, and what starts before T still goes to the old file
//      (but a sound buffer lying mostly after T goes to the new one, so the
//      sound of each file ends and begins within half a buffer of T);
//      an input that has not reached the cut two seconds on (a stalled
//      source, an encoder that gives no key frame) no longer holds it: then
//      any buffer may set the cut, and two seconds later the inputs are cut
//      where they stand, so a cut always completes;
//   2. each held input is ended (EOS) in the old muxer, which then finalises
//      its file (index, headers); that EOS is kept from the file sink so the
//      pipeline does not count the capture as finished;
//   3. the old muxer and file sink leave the graph; a new muxer and file sink
//      of the same factories and settings, writing the new file, take their
//      place and the inputs are let go.
//
// No buffer is lost or written twice: the first file ends with the last
// buffers before T, the second begins with the ones at T.
//
// Threads: Start, the steps and the done callback run on the GUI thread. The
// ends of stream go into the old muxer from GStreamer's thread pool
// (gst_element_call_async): an input's stream lock can stay held for as long
// as its thread waits inside the muxer for another input. The pad probes on
// the streaming threads only record what they hold under the switch's own
// mutex and hand over to the GUI thread through an idle source on the
// default GLib main context (which the Qt event loop runs). Each muxer
// input must be fed by its own streaming thread (a queue before it), since an
// input is held while the others move on to the cut.
//
// Writers of Kadrillo's own (kadaviwriter, kaddvaviwriter, kaddump) switch
// by themselves through their "next-location" property and need none of
// this.

#include "platform/media/gst_ptr.h"

#include <QString>

#include <functional>
#include <memory>

namespace kad {

class TfileSwitch {
public:
    // ok false: the switch failed; error says why. The graph then holds
    // whatever writer was left (the old one while nothing had changed yet).
    using Done = std::function<void(bool ok, const QString& error)>;
    // Called with the new muxer and file sink before they start, so the
    // caller can configure them further or attach counters.
    using Configure = std::function<void(GstElement* mux, GstElement* sink)>;

    TfileSwitch();
    ~TfileSwitch();
    TfileSwitch(const TfileSwitch&) = delete;
    TfileSwitch& operator=(const TfileSwitch&) = delete;

    // Starts moving the writer `mux` ! `sink` of `graph` to `newLocation`.
    // False (nothing changed) when a switch is already running, the graph is
    // not PLAYING or PAUSED, or mux and sink are not a linked writer with
    // linked inputs.
    bool Start(GstBin* graph, GstElement* mux, GstElement* sink, const QString& newLocation,
               Done done, Configure configure = {});
    bool Busy() const;
    // Gives up a running switch because the capture stops: the inputs are
    // let go into the old writer, which the caller then ends as usual; no
    // new file is made and the done callback reports the failure. Never
    // waits on a streaming thread. True when the old muxer had already
    // finished its file (its end of stream was kept from the file sink),
    // false otherwise, or when no switch was running.
    bool Cancel();
    // Gives up a running switch while the capture goes on, provided no
    // input has reached the cut yet (nothing has changed): the inputs are
    // let go into the old writer and the done callback reports the
    // failure. False when no switch runs or it is past that point (it then
    // completes by itself).
    bool GiveUp();
    // For muxers whose encoded sound runs a packet ahead of the picture
    // (asfmux): the cut is taken from the first key frame out of the video
    // encoder, on its way into the queue in front of the muxer, and a sound
    // packet that may lie across it waits (at most half a second) until the
    // pictures tell on which side its middle falls; it then goes to the file
    // holding most of it. From this call on, the sound going into mux's
    // "audio" inputs is followed, so that no cut comes before the middle of
    // a packet already written. Call for each new writer (each capture),
    // once its inputs are linked and before data flows: what was followed
    // for the last one is dropped. The same inputs feed the muxers that
    // the cuts put in its place. Null stops it all.
    void WatchSound(GstElement* mux);
    // The writer in the graph after the last successful switch (or the one
    // given to Start while it runs).
    GstElement* Mux() const;
    GstElement* Sink() const;

    // For tests and diagnostics: the running time of the last cut.
    GstClockTime LastCut() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

} // namespace kad
