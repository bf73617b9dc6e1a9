#pragma once
// Registers the GStreamer platform's classes in the class registry: the
// system device enumerator, the filter graph, the capture graph builder, the
// AVI multiplexer, the file writer, the device moniker, the video renderer and
// the ASF writer. The writer's network sink is the stream server's
// (RegisterWriterNetworkSink). Call once at start-up (again is harmless);
// tests may then replace single classes.
void RegisterGstPlatform();
