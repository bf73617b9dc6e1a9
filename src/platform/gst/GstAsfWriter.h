#pragma once
// The ASF writer filter: encodes what arrives on its input pins with the
// current profile's settings (WMA2 audio, WMV8 video), multiplexes it into a
// live ASF stream handed to the writer's sinks (the network sink), and, when a
// file name is set, into an ASF file written alongside.
//
// Inside the bin, per connected input:  queue (leaky) ! capsfilter !
// [audiobuffersplit !] encoder ! identity single-segment ! tee; each tee feeds
// a streamable asfmux ! appsink (the sinks' data) and a second asfmux !
// filesink (the archive, with its index and duration). Only connected inputs
// take part, so a multiplexer never waits for a stream that cannot come.
//
// The archive in segments (IAsfArchive): once a segment's time has passed,
// the video encoder is asked for a key frame; at that frame the file is
// renamed to its kept name, its branch unlinked from the tees (on an idle
// pad, so nothing is in flight) and sent an end of stream, a new branch
// begun under the file name and linked in its place. The old multiplexer
// finishes its file (index, duration); its end is held at the file sink
// and the branch freed on a thread of GStreamer's own (the streaming
// thread cannot change the states of its own elements).
//
// Threads: the UI thread configures, connects and adds sinks; the appsink's
// streaming thread splits the stream and calls the sinks. sinksLock_ guards
// sinks_, packetizer_ and header_. archiveLock_ guards archive_, closing_
// and the segment's fields; the video input's streaming thread rotates.
#include "platform/AsfInterfaces.h"
#include "platform/AsfPacketizer.h"
#include "platform/AsfProfiles.h"
#include "platform/gst/GstFilter.h"

#include <mutex>
#include <vector>

class TGstAsfInputPin;

class TGstAsfWriter : public TGstFilter,
                      public IAsfArchive,
                      public IConfigAsfWriter2,
                      public IFileSinkFilter,
                      public IServiceProvider,
                      public IWMWriterAdvanced2 {
  public:
    TGstAsfWriter();

    HRESULT QueryInterface(REFIID iid, void** out) override {
        return TGstFilter::QueryInterface(iid, out);
    }
    ULONG AddRef() override { return TGstFilter::AddRef(); }
    ULONG Release() override { return TGstFilter::Release(); }

    bool NeedsEndOfStream() override { return !stream_.Elements.empty(); }

    // IConfigAsfWriter / IConfigAsfWriter2. Reconfiguring replaces the pins
    // (their connections are undone); VFW_E_NOT_STOPPED while running.
    HRESULT ConfigureFilterUsingProfileGuid(REFGUID profile) override;
    HRESULT GetCurrentProfileGuid(GUID* profile) override;
    HRESULT SetIndexMode(BOOL index) override;
    HRESULT GetIndexMode(BOOL* index) override;
    HRESULT SetParam(DWORD param, DWORD value1, DWORD value2) override;
    HRESULT GetParam(DWORD param, DWORD* value1, DWORD* value2) override;

    // IFileSinkFilter. E_ACCESSDENIED when the file cannot be written there
    // (the stream still works, without the file).
    HRESULT SetFileName(const std::string& fileName, const AM_MEDIA_TYPE* type) override;
    HRESULT GetCurFile(std::string& fileName, AM_MEDIA_TYPE* type) override;

    // IAsfArchive. The duration and retention are taken when the graph runs.
    HRESULT SetSegmentDuration(REFERENCE_TIME duration) override;
    HRESULT SetRetention(const TArchiveRetention& retention) override;
    HRESULT SetSegmentHandler(TSegmentHandler handler) override;

    // IServiceProvider: the writer's IWMWriterAdvanced(2).
    HRESULT QueryService(REFGUID service, REFIID iid, void** out) override;

    // IWMWriterAdvanced
    HRESULT GetSinkCount(DWORD* count) override;
    HRESULT GetSink(DWORD index, IWMWriterSink** sink) override;
    HRESULT AddSink(IWMWriterSink* sink) override;
    HRESULT RemoveSink(IWMWriterSink* sink) override;
    HRESULT IsRealTime(BOOL* realTime) override;

    const TAsfProfile& Profile() const { return *profile_; }

  protected:
    ~TGstAsfWriter() override;
    HRESULT QueryOtherInterface(REFIID iid, void** out) override;

  private:
    friend class TGstAsfInputPin;

    bool Running() const;
    void MakePins();
    void RemovePins();
    // Encoder chain of one input; false when an element is missing.
    bool OpenBranch(TGstAsfInputPin* pin);
    void CloseBranch(TGstAsfInputPin* pin);
    // Multiplexers and sinks follow the connected inputs and the file name.
    // False when an element of the stream or file output is missing.
    bool RebuildOutputs();
    void TearDownOutputs();
    // The elements of one multiplexer's output and the tee pads feeding it.
    struct TOutputChain {
        std::vector<TGstRef<GstElement>> Elements; // queues, the multiplexer, the sink
        std::vector<TGstRef<GstPad>> TeePads;
        std::string Kept; // a closing archive: the name it is kept under
    };
    // A multiplexer into sink fed from every connected input, into chain;
    // with live, its elements play before a tee feeds them.
    GstElement* AddMuxChain(bool streamable, GstElement* sink, TOutputChain& chain, bool live);
    static void DropChain(GstBin* bin, TOutputChain& chain);

    friend struct TAsfArchiveGlue;
    // Video streaming thread, archiveLock_ held: the boundary reached at a
    // key frame. The segment handler is called with the lock held (it must
    // not call the writer).
    void RotateArchive();
    // A GStreamer thread: the closing archive's file is finished.
    void FinishClosing(TOutputChain* chain);

    friend struct TAsfAppSinkGlue;
    // Streaming thread: bytes of the streamable multiplexer, its end, a new run.
    void StreamData(const uint8_t* data, size_t size);
    void StreamEnded();
    void StreamRestarted();

    const TAsfProfile* profile_;
    std::string fileName_;
    bool autoIndex_ = true, multiPass_ = false, dontCompress_ = false;

    TOutputChain stream_; // the live stream's multiplexer into the appsink

    std::mutex archiveLock_;
    TOutputChain archive_;                               // the running archive's
    std::vector<std::unique_ptr<TOutputChain>> closing_; // finishing their files
    GstClockTime segmentDuration_ = 0;                   // 0: one file
    GstClockTime segmentStart_ = GST_CLOCK_TIME_NONE;    // of the running file
    bool keyAsked_ = false;
    TArchiveRetention retention_;
    TSegmentHandler segmentHandler_;
    TGstRef<GstPad> clockPad_; // the tee sink pad whose buffers time the segments
    gulong clockProbe_ = 0;
    bool clockIsVideo_ = false;

    std::mutex sinksLock_;
    std::vector<ComPtr<IWMWriterSink>> sinks_;
    AsfPacketizer packetizer_;
    std::vector<uint8_t> header_; // the current stream's header, for sinks added late
};

// Registers the ASF writer and the network sink classes.
void RegisterAsfWriter();
