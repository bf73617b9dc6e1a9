#pragma once
// TNetHTTPServer: the HTTP server with its GET handler and body-stream hook published.
#include "http/NetCustomHTTPServer.h"

class TNetHTTPServer : public TNetCustomHTTPServer {
  public:
    // Peers call into the server until they end: they are stopped here, before
    // any part of the object is torn down.
    ~TNetHTTPServer() override { ShutDown(); }

    // Handler for GET, POST and HEAD, called on the connection's peer thread.
    TNetHTTPGetEvent& OnCommandGet = onCommandGet_;
    // Lets the application supply the stream a request body is read into.
    TOnCreatePostStream& OnCreatePostStream = onCreatePostStream_;
};
