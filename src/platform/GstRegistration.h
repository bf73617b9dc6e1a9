#pragma once
// Registers the GStreamer platform's classes in the class registry: the
// system device enumerator, the filter graph, the capture graph builder, the
// AVI multiplexer, the file writer, the device moniker, the video renderer,
// the ASF writer and its network sink. Call once at
// start-up (again is harmless); tests may then replace single classes.
void RegisterGstPlatform();
