#include "platform/gst/GstRegistration.h"

#include "platform/ClassRegistry.h"
#include "platform/gst/GstAsfWriter.h"
#include "platform/gst/GstAviWriter.h"
#include "platform/gst/GstCaptureGraphBuilder.h"
#include "platform/gst/GstDeviceEnum.h"
#include "platform/gst/GstFilterGraph.h"
#include "platform/gst/GstRelay.h"
#include "platform/gst/GstUtil.h"
#include "platform/gst/GstVideoRenderer.h"
#include "platform/gst/GstWebRtcOutput.h"
#include "platform/gst/GstWebmStream.h"

void RegisterGstPlatform() {
    EnsureGstInitialised();
    RegisterClassFactory(CLSID_SystemDeviceEnum, MakeClassFactory<TGstSystemDeviceEnum>());
    RegisterClassFactory(CLSID_FilterGraph, MakeClassFactory<TGstFilterGraph>());
    RegisterClassFactory(CLSID_CaptureGraphBuilder2, MakeClassFactory<TGstCaptureGraphBuilder>());
    RegisterClassFactory(CLSID_AviDest, MakeClassFactory<TGstAviMux>());
    RegisterClassFactory(CLSID_FileWriter, MakeClassFactory<TGstFileWriter>());
    RegisterClassFactory(CLSID_GstDeviceMoniker, &NewGstDeviceMoniker);
    RegisterClassFactory(CLSID_DeviceWatch, MakeClassFactory<TGstDeviceWatch>());
    RegisterVideoRenderer();
    RegisterAsfWriter();
    RegisterWebmStream();
    RegisterRelay();
    RegisterWebRtcOutput();
}
