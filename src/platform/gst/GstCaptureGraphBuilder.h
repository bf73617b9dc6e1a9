#pragma once
// The capture graph builder: finds the source pin of a category or major
// type and links it to a free input pin of the sink (converters come from the
// pins' Connect); adds the AVI multiplexer and file writer for an output file.
#include "platform/GraphInterfaces.h"

class TGstCaptureGraphBuilder : public TComObject<ICaptureGraphBuilder2> {
  public:
    HRESULT SetFiltergraph(IGraphBuilder* graph) override;
    HRESULT GetFiltergraph(IGraphBuilder** out) override;
    HRESULT SetOutputFileName(const GUID* type, const std::string& fileName, IBaseFilter** mux,
                              IFileSinkFilter** sink) override;
    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                          void** out) override;
    HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                         IBaseFilter* intermediate, IBaseFilter* sink) override;
    HRESULT FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                    BOOL unconnected, int index, IPin** out) override;

  private:
    HRESULT EnsureGraph();
    void Log(const std::string& line);
    // Links out to the first free input pin of sink that takes it.
    HRESULT LinkToFilter(IPin* out, IBaseFilter* sink);

    ComPtr<IGraphBuilder> graph_;
};
