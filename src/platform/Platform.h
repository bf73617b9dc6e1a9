#pragma once
// The platform object model and every media platform interface, in one include.
//
// How the media layer and the platform meet:
// - Objects: interfaces are abstract structs (static Iid, Base alias) queried
//   by GUID and reference counted (Unknown.h). Implementations derive from
//   TComObject<Interfaces...>; callers hold them in ComPtr.
// - Creation: everything is created by class id through the class registry
//   (ClassRegistry.h: CoCreateInstance). The GStreamer platform registers its
//   classes (system device enumerator, filter graph, capture graph builder,
//   video renderer, ASF writer, network sink, device moniker) at start-up;
//   tests register fakes with TClassRegistration. An unregistered class gives
//   REGDB_E_CLASSNOTREG.
// - Strings: UTF-8 std::string at every interface. Where a name or error
//   text is limited to 255 characters we cut at 255 bytes on a character
//   boundary (Utf8.h).
// - Media type records (MediaTypes.h) own their format block, allocated with
//   CoTaskMemAlloc and freed with CoTaskMemFree (TaskMemory.h); records handed
//   out by IEnumMediaTypes::Next are themselves from CoTaskMemAlloc and the
//   receiver frees them with DeleteMediaType.
// - Monikers (Moniker.h) persist through IPersistStream::Save / Load on a byte
//   vector; OleSaveToStream writes the class id first, OleLoadFromStream
//   creates the class through the registry and loads the rest. A device
//   moniker's bytes name the provider and a stable device identity.
// - Graph events: IMediaEventEx::SetNotifyWindow takes an INotifyTarget (the
//   graph component's hidden receiver) instead of a window. The platform calls
//   INotifyTarget::PostGraphEvent from any thread; the receiver re-posts to the
//   UI thread (QCoreApplication::postEvent), where the graph component drains
//   GetEvent with timeout 0 and frees each event's parameters.
// - Running object table: an active graph with GraphEdit set is registered
//   under "!FilterGraph <address> pid <pid>"; RunningObjectName finds that name
//   for a graph (for structure dumps).
// - Network sink: WMCreateWriterNetworkSink creates CLSID_WMWriterNetworkSink
//   through the registry.
// - Windows: OAHWND is a QWidget pointer (VideoInterfaces.h).
// - No GStreamer header is included by any header the media layer uses.
#include "platform/AsfInterfaces.h"
#include "platform/ClassRegistry.h"
#include "platform/DeviceInterfaces.h"
#include "platform/ErrorText.h"
#include "platform/FilterInterfaces.h"
#include "platform/GraphInterfaces.h"
#include "platform/MediaResults.h"
#include "platform/MediaTypes.h"
#include "platform/Moniker.h"
#include "platform/RunningObjectTable.h"
#include "platform/TaskMemory.h"
#include "platform/Unknown.h"
#include "platform/Utf8.h"
#include "platform/VideoInterfaces.h"
