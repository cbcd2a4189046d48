#include "tests/plugin/local_https_server.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace cvtest {

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using Ssl = std::unique_ptr<SSL, Freer<SSL, SSL_free>>;

void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("OpenSSL refused: ") + what);
    }
}

void addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    require(extension != nullptr, "extension");
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    require(added, "add extension");
}

Certificate makeCertificate(const char* commonName, EVP_PKEY* key, X509* issuer, long serial) {
    Certificate certificate(X509_new());
    require(certificate != nullptr, "certificate");
    X509* cert = certificate.get();
    require(X509_set_version(cert, 2) == 1, "version");
    require(ASN1_INTEGER_set(X509_get_serialNumber(cert), serial) == 1, "serial");
    require(X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr, "not before");
    require(X509_gmtime_adj(X509_getm_notAfter(cert), 86400) != nullptr, "not after");
    require(X509_set_pubkey(cert, key) == 1, "public key");
    X509_NAME* name = X509_get_subject_name(cert);
    require(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0) == 1,
            "name");
    require(X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer) : name) == 1,
            "issuer");
    return certificate;
}

// The PEM text a writer (PEM_write_bio_X509, or the private key's) gives for item.
template <typename T, typename Writer>
std::string pemOf(T* item, Writer write) {
    Bio bio(BIO_new(BIO_s_mem()));
    require(bio && write(bio.get(), item) == 1, "PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

} // namespace

TestPki makeTestPki(const std::vector<std::string>& serverNames) {
    const Key authorityKey(EVP_EC_gen("P-256"));
    const Key serverKey(EVP_EC_gen("P-256"));
    require(authorityKey && serverKey, "key generation");

    const Certificate authority =
        makeCertificate("Corvalinth Test Authority", authorityKey.get(), nullptr, 1);
    addExtension(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(authority.get(), authority.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(authority.get(), authority.get(), NID_subject_key_identifier, "hash");
    require(X509_sign(authority.get(), authorityKey.get(), EVP_sha256()) > 0, "authority signature");

    const Certificate server = makeCertificate("Corvalinth Test Server", serverKey.get(), authority.get(), 2);
    std::string alternativeNames;
    for (const std::string& name : serverNames) {
        alternativeNames +=
            (alternativeNames.empty() ? "" : ",") + (name.rfind("IP:", 0) == 0 ? name : "DNS:" + name);
    }
    addExtension(server.get(), authority.get(), NID_subject_alt_name, alternativeNames);
    addExtension(server.get(), authority.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server.get(), authority.get(), NID_ext_key_usage, "serverAuth");
    addExtension(server.get(), authority.get(), NID_authority_key_identifier, "keyid:always");
    require(X509_sign(server.get(), authorityKey.get(), EVP_sha256()) > 0, "server signature");

    const auto key = [](BIO* bio, EVP_PKEY* k) {
        return PEM_write_bio_PrivateKey(bio, k, nullptr, nullptr, 0, nullptr, nullptr);
    };
    return TestPki{pemOf(authority.get(), PEM_write_bio_X509), pemOf(server.get(), PEM_write_bio_X509),
                   pemOf(serverKey.get(), key)};
}

HttpsReply httpReply(int status, const std::string& body, const std::string& extraHeaders,
                     bool announceLength) {
    std::string bytes = "HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\n";
    if (announceLength) {
        bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    bytes += extraHeaders + "\r\n" + body;
    return HttpsReply{bytes, false};
}

LocalHttpsServer::LocalHttpsServer(const TestPki& pki, Handler handler) : handler_(std::move(handler)) {
    // A client that gives up mid-reply must not end the test program through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    context_ = SSL_CTX_new(TLS_server_method());
    require(context_ != nullptr, "server context");
    // No session tickets after the handshake: once a request is read the client has nothing left to
    // receive, so a stalled reply leaves it waiting on its own timers alone.
    SSL_CTX_set_num_tickets(context_, 0);
    const Bio chain(BIO_new_mem_buf(pki.serverChainPem.data(), static_cast<int>(pki.serverChainPem.size())));
    const Bio keyText(BIO_new_mem_buf(pki.serverKeyPem.data(), static_cast<int>(pki.serverKeyPem.size())));
    const Certificate certificate(PEM_read_bio_X509(chain.get(), nullptr, nullptr, nullptr));
    const Key key(PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr));
    require(certificate && key && SSL_CTX_use_certificate(context_, certificate.get()) == 1 &&
                SSL_CTX_use_PrivateKey(context_, key.get()) == 1,
            "server identity");

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    require(listenFd_ >= 0 &&
                ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                ::listen(listenFd_, 8) == 0 &&
                ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                ::pipe2(stopPipe_, O_CLOEXEC) == 0,
            "listening socket");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LocalHttpsServer::~LocalHttpsServer() {
    const char stop = 's';
    [[maybe_unused]] const ssize_t written = ::write(stopPipe_[1], &stop, 1);
    thread_.join();
    ::close(listenFd_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    SSL_CTX_free(context_);
}

void LocalHttpsServer::waitForRequests(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return static_cast<int>(heads_.size()) >= count; });
}

int LocalHttpsServer::connectionCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

std::vector<std::string> LocalHttpsServer::requestHeads() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return heads_;
}

bool LocalHttpsServer::waitReadable(int fd) const {
    pollfd watched[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    while (::poll(watched, 2, -1) < 0) {
    }
    return (watched[1].revents & POLLIN) == 0;
}

void LocalHttpsServer::serve() {
    while (waitReadable(listenFd_)) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++connections_;
        }
        // A client that stops talking cannot hold the server past the test's own limits.
        const timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
        serveConnection(fd);
        ::close(fd);
    }
}

void LocalHttpsServer::serveConnection(int fd) {
    const Ssl ssl(SSL_new(context_));
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) {
        ERR_clear_error();
        return;
    }
    std::string head;
    char piece[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const int got = SSL_read(ssl.get(), piece, sizeof(piece));
        if (got <= 0) {
            ERR_clear_error();
            return;
        }
        head.append(piece, static_cast<std::size_t>(got));
    }
    const std::size_t targetStart = head.find(' ') + 1;
    const std::string target = head.substr(targetStart, head.find(' ', targetStart) - targetStart);
    const HttpsReply reply = handler_(target);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        heads_.push_back(head);
    }
    changed_.notify_all();
    if (reply.stall) {
        // Held until the client closes (the socket reads as ready at its end) or the server stops.
        waitReadable(fd);
    } else if (SSL_write(ssl.get(), reply.bytes.data(), static_cast<int>(reply.bytes.size())) > 0) {
        // A blocking SSL_write without partial writes returns only once every byte was sent.
        SSL_shutdown(ssl.get());
    }
    ERR_clear_error();
}

} // namespace cvtest
