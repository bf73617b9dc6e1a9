// Serves a fixed 2 KB HTML page for "/" the way the landing page does
// (SendHeader, then SendContent of a memory stream) with the program's
// server settings (KeepAlive off, ListenQueue 99), for S seconds.
//   http_server --port P --seconds S
//   http_server --dump-page      (prints the page, for the comparison servers)
#include "BenchSupport.h"
#include "http/NetHTTPServer.h"
#include "http/NetThreadMgrDefault.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    int port = 8081;
    int seconds = 10;
    if (argc == 2 && std::strcmp(argv[1], "--dump-page") == 0) {
        std::fputs(BenchPage().c_str(), stdout);
        return 0;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atoi(argv[i + 1]);
    }
    const std::string page = BenchPage();

    TNetThreadMgrDefault threadManager;
    TNetHTTPServer server;
    server.SetThreadMgr(&threadManager);
    server.SetDefaultPort(port);
    server.ListenQueue = 99;
    server.TerminateWaitTime = 7500;
    server.SessionTimeOut = 120000;
    server.CommandHandlersEnabled = false;
    server.Greeting.SetNumericCode(-1);
    server.OnCommandGet = [&page](TNetPeerThread&, TNetHTTPRequestInfo& request,
                                  TNetHTTPResponseInfo& response) {
        response.CacheControl = "no-cache, must revalidate";
        response.Pragma = "no-cache";
        response.Expires = Now() - 23.0 / 1440.0;
        response.Date = Now();
        auto stream = std::make_unique<TMemoryStream>();
        if (request.Target == "/") {
            stream->WriteBuffer(page.data(), static_cast<int64_t>(page.size()));
            response.ContentLength = stream->Size();
            response.ContentType = "text/html";
            response.SetContentSource(std::move(stream));
            response.SendHeader();
            response.SendContent();
        }
    };
    try {
        server.SetActive(true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("listening on %d\n", port);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    server.SetActive(false);
    return 0;
}
