// The TLS layer on a real loopback connection. The far end is a TLS server made
// here with OpenSSL's server API over memory buffers: its ciphertext reaches the
// socket only when the test flushes it, so the test decides which records
// arrive together in one delivery.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "NetTestSupport.h"
#include "TlsTestIdentity.h"
#include "ostra/norvikqos/Lib_SSL/nwCSecureSocketClientLayer.h"
#include "ostra/norvikqos/object/qvClassFactory.h"
#include "ostra/norvikqos/stack/nwTLayer.h"
#include "support/NginxServer.h"

using namespace nettest;

namespace {

namespace sock = platform::sock;

// One server-side TLS connection, driven from the test thread.
class TlsPeer {
  public:
    explicit TlsPeer(int maxVersion = 0,
                     const tlstest::Identity& identity = tlstest::Identity::Get()) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (maxVersion)
            SSL_CTX_set_max_proto_version(ctx_, maxVersion);
        SSL_CTX_use_certificate(ctx_, identity.certificate);
        SSL_CTX_use_PrivateKey(ctx_, identity.key);
        ssl_ = SSL_new(ctx_);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
    }
    ~TlsPeer() {
        SSL_free(ssl_);
        SSL_CTX_free(ctx_);
        if (fd_ != sock::kInvalidHandle)
            CloseGraceful(fd_);
    }
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    void Attach(sock::Handle fd) { fd_ = fd; }

    // Takes what the client sent, advances the handshake and reads plaintext;
    // whatever the server answers waits in Pending() until Flush.
    void Pump() {
        char buffer[65536];
        for (;;) {
            const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                break;
            BIO_write(in_, buffer, static_cast<int>(n));
        }
        if (!SSL_is_init_finished(ssl_)) {
            const int result = SSL_do_handshake(ssl_);
            if (result <= 0 && SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ)
                failed = true;
        }
        if (SSL_is_init_finished(ssl_)) {
            int n = 0;
            while ((n = SSL_read(ssl_, buffer, sizeof buffer)) > 0)
                plaintext.append(buffer, static_cast<size_t>(n));
        }
        Collect();
    }
    // Pumps and sends everything at once.
    void Exchange() {
        Pump();
        Flush();
    }
    // Encrypts one record (for short texts) behind what is pending.
    void Write(const std::string& text) {
        SSL_write(ssl_, text.data(), static_cast<int>(text.size()));
        Collect();
    }
    // Sends what is pending in one write.
    void Flush() {
        SendAll(fd_, pending_);
        pending_.clear();
    }
    bool HandshakeDone() const { return SSL_is_init_finished(ssl_); }
    std::string ServerName() const {
        const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name);
        return name ? name : "";
    }
    const std::string& Pending() const { return pending_; }

    std::string plaintext;  // what the client sent, decrypted
    bool failed = false;

  private:
    void Collect() {
        char buffer[16384];
        int n = 0;
        while ((n = BIO_read(out_, buffer, sizeof buffer)) > 0)
            pending_.append(buffer, static_cast<size_t>(n));
    }

    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
    sock::Handle fd_ = sock::kInvalidHandle;
    std::string pending_;
};

class qvIProbeLayer : public qvIUnknown {};

// The layer above TLS: sends on connect, records every offer of plaintext and
// consumes as the test tells it.
class ProbeLayer final : public nwTLayer<qvIProbeLayer> {
  public:
    bool OnLayerConnected() override {
        connected = true;
        drainedAtConnect = drained;
        if (!sendOnConnect.empty())
            Send(sendOnConnect);
        return true;
    }
    int32_t OnReceive(const uint8_t* data, uint32_t length) override {
        const std::string offer(reinterpret_cast<const char*>(data), length);
        offers.push_back(offer);
        const int32_t take = consume ? consume(offer) : static_cast<int32_t>(length);
        if (take > 0)
            received += offer.substr(0, static_cast<size_t>(take));
        return take;
    }
    bool OnSendDrainedEvent() override {
        ++drained;
        if (onDrained)
            std::exchange(onDrained, nullptr)();
        return true;
    }
    void OnLayerClose() override { closed = true; }
    void Send(const std::string& text) {
        SendDown(nwDataChunk{reinterpret_cast<const uint8_t*>(text.data()),
                             static_cast<uint32_t>(text.size())});
    }
    using nwCApplicationStack::CloseContext;

    std::string sendOnConnect;
    std::function<int32_t(const std::string&)> consume;
    // Runs once, at the next send-drained event.
    std::function<void()> onDrained;
    std::vector<std::string> offers;
    std::string received;
    bool connected = false;
    bool closed = false;
    int drained = 0;
    int drainedAtConnect = 0;
};

class TlsLayerTest : public ::testing::Test, public NetFixture {
  protected:
    // A context with TLS at the bottom and the probe on top, connected to the
    // listener; the accepted socket is handed to peer when one is given.
    void Connect(uint32_t watchFlags = 0, TlsPeer* peer = nullptr, const char* host = "tls.test") {
        context = MakeContext(watchFlags);
        ASSERT_TRUE(context);
        probe = qvMakeObject<ProbeLayer>();
        {
            std::lock_guard guard(*lock);
            ASSERT_EQ(context->PushLayer(qvClassId::kSecureSocketClientLayer, true), qv::kOk);
            ASSERT_EQ(context->AttachLayer(qvSmartPtr<>(probe->Application()), 0x7002, false),
                      qv::kOk);
            qvSmartPtr<> found;
            ASSERT_EQ(context->FindLayer(qvClassId::kSecureSocketClientLayer, found), qv::kOk);
            tls = dynamic_cast<nwCSecureSocketClientLayer*>(found.Get());
            ASSERT_NE(tls, nullptr);
            if (host)
                context->SetHostName(host);
            context->Connect(listener.Address());
        }
        accepted = listener.Accept();
        ASSERT_NE(accepted, sock::kInvalidHandle);
        if (peer) {
            peer->Attach(accepted);
            accepted = sock::kInvalidHandle;
        }
    }
    // Runs the loop and the peer until the server's handshake is done; with
    // holdLast, the server's last flight stays pending.
    bool Handshake(TlsPeer& peer, bool holdLast = false) {
        return RunUntil([&] {
            peer.Pump();
            if (!holdLast || !peer.HandshakeDone())
                peer.Flush();
            return peer.HandshakeDone();
        });
    }
    void TearDown() override {
        if (context) {
            std::lock_guard guard(*lock);
            context->Close();
        }
        if (accepted != sock::kInvalidHandle)
            CloseGraceful(accepted);
    }

    Listener listener;
    qvSmartPtr<cpCQoSContext> context;
    qvSmartPtr<ProbeLayer> probe;
    nwCSecureSocketClientLayer* tls = nullptr;
    sock::Handle accepted = sock::kInvalidHandle;
};

TEST_F(TlsLayerTest, DataSentBeforeTheHandshakeIsHeldThenGoesOutFirst) {
    TlsPeer peer;
    Connect(qvWatch::kSendDrained, &peer, "tls.test");
    probe->sendOnConnect = "request";
    // The layer above hears of the connection before the handshake has run.
    ASSERT_TRUE(RunUntil([&] { return probe->connected; }));
    probe->Send(" second");
    EXPECT_FALSE(tls->HandshakeComplete());
    EXPECT_EQ(tls->HeldChunks(), 2u);
    // The ClientHello left, but the held request did not: the layer above is
    // not told that its data went out.
    Spin(5);
    EXPECT_EQ(probe->drained, probe->drainedAtConnect);

    ASSERT_TRUE(Handshake(peer));
    ASSERT_TRUE(RunUntil([&] {
        peer.Exchange();
        return tls->HandshakeComplete() && tls->HeldChunks() == 0;
    }));
    probe->Send(" later");
    ASSERT_TRUE(RunUntil([&] {
        peer.Exchange();
        return peer.plaintext.size() >= 20;
    }));
    EXPECT_EQ(peer.plaintext, "request second later");
    EXPECT_EQ(peer.ServerName(), "tls.test");  // sent as SNI
    ASSERT_TRUE(RunUntil([&] { return probe->drained > probe->drainedAtConnect; }));
    EXPECT_FALSE(peer.failed);
}

TEST_F(TlsLayerTest, HandshakeEndAndFirstRecordInOneDelivery) {
    // TLS 1.2, so that the server's Finished comes last in the handshake and
    // can share a write with application data.
    TlsPeer peer(TLS1_2_VERSION);
    Connect(0, &peer);
    ASSERT_TRUE(Handshake(peer, /*holdLast=*/true));
    Spin(5);
    EXPECT_FALSE(tls->HandshakeComplete());
    ASSERT_FALSE(peer.Pending().empty());
    peer.Write("first record");
    peer.Flush();
    ASSERT_TRUE(RunUntil([&] { return !probe->received.empty(); }));
    EXPECT_TRUE(tls->HandshakeComplete());
    EXPECT_EQ(probe->offers, (std::vector<std::string>{"first record"}));
}

TEST_F(TlsLayerTest, TwoRecordsInOneReadArePassedUpInOrder) {
    TlsPeer peer;
    Connect(0, &peer);
    ASSERT_TRUE(Handshake(peer));
    ASSERT_TRUE(RunUntil([&] {
        peer.Exchange();
        return tls->HandshakeComplete();
    }));
    peer.Write("one");
    peer.Write("two");
    peer.Flush();
    ASSERT_TRUE(RunUntil([&] { return probe->received.size() == 6; }));
    EXPECT_EQ(probe->offers, (std::vector<std::string>{"one", "two"}));
}

TEST_F(TlsLayerTest, UnconsumedPlaintextIsOfferedAgainAheadOfNewBytes) {
    TlsPeer peer;
    Connect(0, &peer);
    ASSERT_TRUE(Handshake(peer));
    ASSERT_TRUE(RunUntil([&] {
        peer.Exchange();
        return tls->HandshakeComplete();
    }));
    std::string first(300, 'a');
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<char>('a' + i % 26);
    probe->consume = [](const std::string& offer) {
        return static_cast<int32_t>(std::min<size_t>(offer.size(), 100));
    };
    peer.Write(first);
    peer.Flush();
    ASSERT_TRUE(RunUntil([&] { return probe->offers.size() == 1; }));
    Spin(5);
    // Nothing is offered again until new bytes arrive.
    ASSERT_EQ(probe->offers.size(), 1u);
    probe->consume = nullptr;
    peer.Write("next");
    peer.Flush();
    ASSERT_TRUE(RunUntil([&] { return probe->offers.size() == 2; }));
    EXPECT_EQ(probe->offers[1], first.substr(100) + "next");
    EXPECT_EQ(probe->received, first + "next");
}

TEST_F(TlsLayerTest, CloseFromAboveWhileReceivingEndsTheConnection) {
    TlsPeer peer;
    Connect(0, &peer);
    ASSERT_TRUE(Handshake(peer));
    ASSERT_TRUE(RunUntil([&] {
        peer.Exchange();
        return tls->HandshakeComplete();
    }));
    // The close comes from inside the session's read; the session must outlive
    // that call (the sanitizer build checks it).
    probe->consume = [&](const std::string& offer) {
        probe->CloseContext();
        return static_cast<int32_t>(offer.size());
    };
    peer.Write("one");
    peer.Write("two");
    peer.Flush();
    ASSERT_TRUE(RunUntil([&] { return probe->closed; }));
    Spin(5);
    EXPECT_EQ(probe->offers, (std::vector<std::string>{"one"}));
    EXPECT_EQ(StateOf(context.Get()), qvContextState::kClosed);
}

TEST_F(TlsLayerTest, FailedHandshakeClosesTheConnection) {
    struct Case {
        const char* name;
        std::string answer;  // sent after the ClientHello; empty: close
    };
    const Case cases[] = {
        {"plain http", "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"},
        {"bad handshake record", std::string("\x16\x03\x03\x00\x05hello", 10)},
        {"garbage", std::string(64, '\xff')},
        {"close", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connect();
        // Wait for the ClientHello.
        ASSERT_TRUE(RunUntil([&] {
            char byte = 0;
            return recv(accepted, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
        }));
        if (c.answer.empty()) {
            CloseGraceful(accepted);
            accepted = sock::kInvalidHandle;
        } else {
            SendAll(accepted, c.answer);
        }
        ASSERT_TRUE(RunUntil([&] { return probe->closed; }));
        EXPECT_FALSE(tls->HandshakeComplete());
        EXPECT_TRUE(probe->received.empty());
        TearDown();
        context.Reset();
    }
}

std::vector<std::string> gLogged;
void Record(const char* line) {
    gLogged.emplace_back(line);
}

// The layer above sends from inside a delivery, and the event that its send
// raises (the ciphertext left at once) sends again, and may close. That inner
// call ends while the outer write is still inside OpenSSL: the session must
// outlive both (the sanitizer build checks it), and the inner data goes out
// after the outer data unless the connection was closed.
TEST_F(TlsLayerTest, NestedSendInsideADeliveryWaitsForTheOuterCall) {
    for (const bool close : {true, false}) {
        SCOPED_TRACE(close ? "close from the inner call" : "inner send only");
        TlsPeer peer;
        Connect(qvWatch::kSendDrained, &peer);
        ASSERT_TRUE(Handshake(peer));
        ASSERT_TRUE(RunUntil([&] {
            peer.Exchange();
            return tls->HandshakeComplete();
        }));
        probe->consume = [&](const std::string& offer) {
            probe->onDrained = [&] {
                probe->Send(" inner");
                if (close)
                    probe->CloseContext();
            };
            probe->Send("outer");
            return static_cast<int32_t>(offer.size());
        };
        peer.Write("deliver");
        peer.Flush();
        const std::string expected = close ? "outer" : "outer inner";
        ASSERT_TRUE(RunUntil([&] {
            peer.Pump();
            return probe->closed == close && peer.plaintext == expected;
        })) << peer.plaintext;
        EXPECT_EQ(probe->offers, (std::vector<std::string>{"deliver"}));
        Spin(5);
        peer.Pump();
        EXPECT_EQ(peer.plaintext, expected);
        EXPECT_FALSE(peer.failed);
        TearDown();
        context.Reset();
    }
}

// The server must prove that it is the host the connection was made for:
// its chain ends at a trusted certificate (here the tests' CA, which the build
// trusts), it has not expired, and it names the host or the IP literal. A
// refusal closes the connection before any plaintext and logs OpenSSL's reason.
TEST_F(TlsLayerTest, ServerCertificateIsVerified) {
    struct Case {
        const char* name;
        const tlstest::Identity& identity;
        const char* host;
        long error;       // X509_V_OK: accepted
        const char* sni;  // the name the server saw
    };
    const Case cases[] = {
        {"trusted, host name", tlstest::Identity::Get(), "tls.test", X509_V_OK, "tls.test"},
        {"trusted, IP literal", tlstest::Identity::Get(), "127.0.0.1", X509_V_OK, ""},
        {"self-signed", tlstest::Identity::Untrusted(), "tls.test",
         X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "tls.test"},
        {"expired", tlstest::Identity::Expired(), "tls.test", X509_V_ERR_CERT_HAS_EXPIRED,
         "tls.test"},
        {"another host name", tlstest::Identity::Get(), "other.test", X509_V_ERR_HOSTNAME_MISMATCH,
         "other.test"},
        {"another IP address", tlstest::Identity::Get(), "127.0.0.2",
         X509_V_ERR_IP_ADDRESS_MISMATCH, ""},
    };
    COstra::SetLogSink(&Record);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gLogged.clear();
        TlsPeer peer(0, c.identity);
        Connect(0, &peer, c.host);
        probe->sendOnConnect = "hello";
        if (c.error == X509_V_OK) {
            ASSERT_TRUE(RunUntil([&] {
                peer.Exchange();
                return peer.plaintext == "hello";
            }));
            EXPECT_TRUE(tls->HandshakeComplete());
            EXPECT_TRUE(gLogged.empty());
        } else {
            ASSERT_TRUE(RunUntil([&] {
                peer.Exchange();
                return probe->closed;
            }));
            EXPECT_FALSE(tls->HandshakeComplete());
            EXPECT_TRUE(peer.plaintext.empty());
            EXPECT_EQ(
                gLogged,
                (std::vector<std::string>{std::string("TLS: certificate of ") + c.host +
                                          " refused: " + X509_verify_cert_error_string(c.error)}));
        }
        EXPECT_EQ(peer.ServerName(), c.sni);
        TearDown();
        context.Reset();
    }
    COstra::SetLogSink(nullptr);
}

// A real nginx: its certificate is trusted only when the tests' CA signed it
// for the host asked for, and it has not expired.
TEST_F(TlsLayerTest, NginxServesARequestOnlyWithAVerifiedCertificate) {
    using Certificate = tvxtest::NginxServer::Certificate;
    struct Case {
        Certificate certificate;
        const char* host;
        bool served;
    };
    const Case cases[] = {
        {Certificate::kTrusted, "127.0.0.1", true},
        {Certificate::kTrusted, "localhost", true},
        {Certificate::kSelfSigned, "127.0.0.1", false},
        {Certificate::kWrongHost, "127.0.0.1", false},
        {Certificate::kExpired, "localhost", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.certificate)) + " " + c.host);
        tvxtest::NginxServer nginx({.certificate = c.certificate});
        ASSERT_TRUE(nginx.Started()) << nginx.Error();
        ASSERT_TRUE(nginx.WriteFile("hello.txt", "hello over tls"));
        context = MakeContext(0);
        probe = qvMakeObject<ProbeLayer>();
        probe->sendOnConnect =
            std::string("GET /hello.txt HTTP/1.0\r\nHost: ") + c.host + "\r\n\r\n";
        {
            std::lock_guard guard(*lock);
            ASSERT_EQ(context->PushLayer(qvClassId::kSecureSocketClientLayer, true), qv::kOk);
            ASSERT_EQ(context->AttachLayer(qvSmartPtr<>(probe->Application()), 0x7002, false),
                      qv::kOk);
            context->SetHostName(c.host);
            context->Connect(cpAddress{kLoopback, nginx.HttpsPort()});
        }
        // HTTP/1.0: nginx answers and closes with a close notify, which ends
        // the connection on our side as well.
        ASSERT_TRUE(RunUntil([&] { return probe->closed; }, 5000));
        if (c.served) {
            EXPECT_EQ(probe->received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << probe->received;
            EXPECT_NE(probe->received.find("\r\n\r\nhello over tls"), std::string::npos);
        } else {
            EXPECT_TRUE(probe->received.empty()) << probe->received;
        }
        TearDown();
        context.Reset();
    }
}

}  // namespace
