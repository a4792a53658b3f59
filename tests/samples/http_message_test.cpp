// The HTTP text of the sample pair: what parses, what is refused and why.
#include "HttpMessage.h"

#include <gtest/gtest.h>

namespace {

struct RequestCase {
    const char* head;
    bool valid;
    const char* method;
    const char* path;
    const char* errorPart;
};

TEST(HttpMessage, RequestLines) {
    const RequestCase rows[] = {
        {"GET /a HTTP/1.0\r\n\r\n", true, "GET", "/a", ""},
        {"GET /a HTTP/1.0\r\nHost: x\r\n\r\n", true, "GET", "/a", ""},
        {"POST /form HTTP/1.1\r\n\r\n", true, "POST", "/form", ""},
        {"", false, "", "", "empty request"},
        {"\r\n\r\n", false, "", "", "empty request"},
        {"GET /a\r\n\r\n", false, "", "", "is not \"METHOD PATH VERSION\""},
        {"GET /a b HTTP/1.0\r\n\r\n", false, "", "", "is not \"METHOD PATH VERSION\""},
        {"GET a HTTP/1.0\r\n\r\n", false, "", "", "malformed request line"},
        {"GET /a FTP/1.0\r\n\r\n", false, "", "", "malformed request line"},
        {" /a HTTP/1.0\r\n\r\n", false, "", "", "malformed request line"},
        {"GET /a HTTP/1.0\r\nno colon here\r\n\r\n", false, "", "", "header line without a name"},
        {"GET /a HTTP/1.0\r\n: value\r\n\r\n", false, "", "", "header line without a name"},
    };
    for (const RequestCase& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::string(row.head)));
        HttpRequest request;
        std::string error = "junk";
        bool valid = ParseHttpRequest(row.head, request, error);
        EXPECT_EQ(row.valid, valid) << error;
        if (row.valid) {
            EXPECT_EQ(row.method, request.method);
            EXPECT_EQ(row.path, request.path);
        } else {
            EXPECT_NE(std::string::npos, error.find(row.errorPart)) << error;
        }
    }
}

struct ResponseCase {
    std::string message;
    bool valid;
    int status;
    const char* reason;
    std::string body;
    const char* errorPart;
};

TEST(HttpMessage, Responses) {
    const std::string binary("\x00\x01\r\n\r\n\xff", 7);
    const ResponseCase rows[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi", true, 200, "OK", "hi", ""},
        {"HTTP/1.1 404 Not Found\r\n\r\n", true, 404, "Not Found", "", ""},
        {"HTTP/1.0 204\r\n\r\n", true, 204, "", "", ""},
        // A blank line inside the body must not end the head a second time.
        {"HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\n" + binary, true, 200, "OK", binary, ""},
        {"HTTP/1.0 200 OK\r\ncontent-length: 3\r\n\r\nhi", false, 0, "", "",
         "Content-Length 3 but the body has 2 bytes"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 2x\r\n\r\nhi", false, 0, "", "", "Content-Length 2x"},
        {"HTTP/1.0 200 OK\r\nContent-Length:\r\n\r\n", false, 0, "", "", "Content-Length "},
        {"HTTP/1.0 200 OK\r\n", false, 0, "", "", "no blank line"},
        {"HTTP/1.0 2x0 OK\r\n\r\n", false, 0, "", "", "malformed status line"},
        {"HTTP/1.0 2000 OK\r\n\r\n", false, 0, "", "", "malformed status line"},
        {"HTTP/1.0  200 OK\r\n\r\n", false, 0, "", "", "malformed status line"},
        {"ICY 200 OK\r\n\r\n", false, 0, "", "", "malformed status line"},
        {"\r\n\r\n", false, 0, "", "", "malformed status line"},
    };
    for (const ResponseCase& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.message));
        HttpResponse response;
        std::string error = "junk";
        bool valid = ParseHttpResponse(row.message, response, error);
        EXPECT_EQ(row.valid, valid) << error;
        if (row.valid) {
            EXPECT_EQ(row.status, response.status);
            EXPECT_EQ(row.reason, response.reason);
            EXPECT_EQ(row.body, response.body);
        } else {
            EXPECT_NE(std::string::npos, error.find(row.errorPart)) << error;
        }
    }
}

TEST(HttpMessage, BuiltMessagesParseBack) {
    HttpRequest request;
    std::string error;
    std::string head = BuildHttpRequest("/kestrix.bin", "127.0.0.1:8080");
    ASSERT_EQ(head.size(), HttpHeadLength(head));
    ASSERT_TRUE(ParseHttpRequest(head, request, error)) << error;
    EXPECT_EQ("GET", request.method);
    EXPECT_EQ("/kestrix.bin", request.path);
    EXPECT_EQ("HTTP/1.0", request.version);
    ASSERT_NE(nullptr, FindHttpHeader(request.headers, "HOST"));
    EXPECT_EQ("127.0.0.1:8080", *FindHttpHeader(request.headers, "host"));
    EXPECT_EQ(nullptr, FindHttpHeader(request.headers, "Hos"));

    std::string body = SampleHttpBody();
    HttpResponse response;
    ASSERT_TRUE(ParseHttpResponse(BuildHttpResponse(200, "OK", "application/octet-stream", body),
                                  response, error))
        << error;
    EXPECT_EQ(200, response.status);
    EXPECT_EQ(body, response.body);
    ASSERT_NE(nullptr, FindHttpHeader(response.headers, "content-type"));
    EXPECT_EQ("application/octet-stream", *FindHttpHeader(response.headers, "Content-Type"));
}

TEST(HttpMessage, HeadEndsAtTheFirstBlankLine) {
    EXPECT_EQ(std::string::npos, HttpHeadLength(""));
    EXPECT_EQ(std::string::npos, HttpHeadLength("GET / HTTP/1.0\r\n"));
    EXPECT_EQ(std::string::npos, HttpHeadLength("GET / HTTP/1.0\r\n\r"));
    EXPECT_EQ(18u, HttpHeadLength("GET / HTTP/1.0\r\n\r\nrest\r\n\r\n"));
}

TEST(HttpMessage, SampleBodyHoldsEveryByteThenText) {
    std::string body = SampleHttpBody();
    ASSERT_GT(body.size(), 256u);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(i, static_cast<unsigned char>(body[i])) << "at " << i;
    for (size_t i = 256; i < body.size(); ++i)
        EXPECT_TRUE(body[i] == '\r' || body[i] == '\n' || (body[i] >= 0x20 && body[i] < 0x7f))
            << "byte " << i << " of the text part is 0x" << std::hex << (body[i] & 0xff);
}

}  // namespace
