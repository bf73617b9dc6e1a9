// Every answer of the stream port, byte for byte: players and browsers parse
// these heads, so a changed byte is a changed protocol.
#include "platform/stream/StreamResponses.h"

#include <gtest/gtest.h>

TEST(StreamResponses, EveryAnswerIsExactlyWhatClientsAreServed) {
    EXPECT_EQ("HTTP/1.0 405 Method Not Allowed\r\nAllow: GET\r\nContent-Length: 0\r\n"
              "Connection: close\r\n\r\n",
              MethodNotAllowedAnswer());
    EXPECT_EQ("HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n",
              AsfRefusedAnswer());
    EXPECT_EQ("HTTP/1.0 503 Service Unavailable\r\nAccess-Control-Allow-Origin: *\r\n"
              "Content-Type: text/plain\r\nContent-Length: 11\r\nConnection: close\r\n\r\n"
              "not running",
              WebmRefusedAnswer("not running"));
    EXPECT_EQ("HTTP/1.0 200 OK\r\nContent-Type: application/x-mms-framed\r\nServer: kavaroXP\r\n"
              "Cache-Control: no-cache\r\nPragma: no-cache\r\nPragma: client-id=12345\r\n"
              "Pragma: features=\"broadcast\"\r\nConnection: close\r\n\r\n",
              AsfStreamHead("application/x-mms-framed", 12345));
    EXPECT_EQ("HTTP/1.0 200 OK\r\nContent-Type: video/webm; codecs=\"vp8, vorbis\"\r\n"
              "Access-Control-Allow-Origin: *\r\nServer: kavaroXP\r\nCache-Control: no-cache\r\n"
              "Pragma: no-cache\r\nConnection: close\r\n\r\n",
              WebmStreamHead("vp8, vorbis"));
    // Codecs not known yet: the bare type, no empty parameter.
    EXPECT_NE(std::string::npos, WebmStreamHead("").find("Content-Type: video/webm\r\n"));
}
