#include "platform/AsfInterfaces.h"

#include "platform/ClassRegistry.h"

HRESULT WMCreateWriterNetworkSink(IWMWriterNetworkSink** sink) {
    return CoCreateInstance(CLSID_WMWriterNetworkSink, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWMWriterNetworkSink, reinterpret_cast<void**>(sink));
}
