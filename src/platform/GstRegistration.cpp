#include "platform/GstRegistration.h"

#include "platform/ClassRegistry.h"
#include "platform/GstAsfWriter.h"
#include "platform/GstAviWriter.h"
#include "platform/GstCaptureGraphBuilder.h"
#include "platform/GstDeviceEnum.h"
#include "platform/GstFilterGraph.h"
#include "platform/GstUtil.h"
#include "platform/GstVideoRenderer.h"

void RegisterGstPlatform() {
    EnsureGstInitialised();
    RegisterClassFactory(CLSID_SystemDeviceEnum, MakeClassFactory<TGstSystemDeviceEnum>());
    RegisterClassFactory(CLSID_FilterGraph, MakeClassFactory<TGstFilterGraph>());
    RegisterClassFactory(CLSID_CaptureGraphBuilder2, MakeClassFactory<TGstCaptureGraphBuilder>());
    RegisterClassFactory(CLSID_AviDest, MakeClassFactory<TGstAviMux>());
    RegisterClassFactory(CLSID_FileWriter, MakeClassFactory<TGstFileWriter>());
    RegisterClassFactory(CLSID_GstDeviceMoniker, &NewGstDeviceMoniker);
    RegisterVideoRenderer();
    RegisterAsfWriter(); // with the network sink
}
