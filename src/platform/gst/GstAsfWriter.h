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
// Threads: the UI thread configures, connects and adds sinks; the appsink's
// streaming thread splits the stream and calls the sinks. sinksLock_ guards
// sinks_, packetizer_ and header_.
#include "platform/AsfInterfaces.h"
#include "platform/AsfPacketizer.h"
#include "platform/AsfProfiles.h"
#include "platform/gst/GstFilter.h"

#include <mutex>
#include <vector>

class TGstAsfInputPin;

class TGstAsfWriter : public TGstFilter,
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

    bool NeedsEndOfStream() override { return !outputElements_.empty(); }

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
    GstElement* AddMuxChain(bool streamable, GstElement* sink);

    friend struct TAsfAppSinkGlue;
    // Streaming thread: bytes of the streamable multiplexer, its end, a new run.
    void StreamData(const uint8_t* data, size_t size);
    void StreamEnded();
    void StreamRestarted();

    const TAsfProfile* profile_;
    std::string fileName_;
    bool autoIndex_ = true, multiPass_ = false, dontCompress_ = false;

    std::vector<TGstRef<GstElement>> outputElements_; // queues, muxes and sinks of the outputs
    std::vector<TGstRef<GstPad>> teePads_;            // requested tee pads

    std::mutex sinksLock_;
    std::vector<ComPtr<IWMWriterSink>> sinks_;
    AsfPacketizer packetizer_;
    std::vector<uint8_t> header_; // the current stream's header, for sinks added late
};

// Registers the ASF writer and the network sink classes.
void RegisterAsfWriter();
