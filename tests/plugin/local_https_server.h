#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace cvtest {

// A throw-away certificate authority and a server certificate it signed, all PEM text.
struct TestPki {
    std::string authorityPem;   // the authority's certificate: the trust store a client pins
    std::string serverChainPem; // the server's certificate
    std::string serverKeyPem;   // the server's private key
};

// Makes a fresh authority (P-256 keys) and a server certificate for the names (DNS names, or IP
// addresses written as "IP:127.0.0.1"). Throws std::runtime_error when OpenSSL refuses.
TestPki makeTestPki(const std::vector<std::string>& serverNames);

// What the server does with one request.
struct HttpsReply {
    std::string bytes;  // sent as they are after the request was read; the connection is then closed
    bool stall = false; // send nothing and hold the connection until the client closes it or the server stops
};

// "HTTP/1.1 <status> X" with Content-Length (unless announceLength is false: the body then ends when
// the connection closes), Connection: close, the extra header lines (each ending in \r\n) and the body.
HttpsReply httpReply(int status, const std::string& body, const std::string& extraHeaders = "",
                     bool announceLength = true);

// An HTTPS/1.1 server on 127.0.0.1 at a free port, serving one connection at a time on its own thread
// until it is destroyed. The handler gets each request's target (its path) and decides the reply.
class LocalHttpsServer {
public:
    using Handler = std::function<HttpsReply(const std::string& target)>;

    LocalHttpsServer(const TestPki& pki, Handler handler);
    LocalHttpsServer(const LocalHttpsServer&) = delete;
    LocalHttpsServer& operator=(const LocalHttpsServer&) = delete;
    ~LocalHttpsServer();

    int port() const { return port_; }

    // Blocks until at least count requests were read (a stalled request counts once it was read).
    void waitForRequests(int count);

    int connectionCount() const;                   // connections accepted, whether or not TLS succeeded
    std::vector<std::string> requestHeads() const; // every request's head, in order

private:
    void serve();
    void serveConnection(int fd);
    bool waitReadable(int fd) const; // false when the server is stopping

    Handler handler_;
    SSL_CTX* context_ = nullptr;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int connections_ = 0;            // guarded by mutex_
    std::vector<std::string> heads_; // guarded by mutex_
};

} // namespace cvtest
