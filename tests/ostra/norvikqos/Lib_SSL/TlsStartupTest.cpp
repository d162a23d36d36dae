// The TLS module's start and stop by the network core, and its list of
// trusted certificates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "TlsTestIdentity.h"
#include "ostra/norvikqos/Lib_SSL/COpenSSL.h"
#include "ostra/norvikqos/core/COstra.h"
#include "ostra/norvikqos/http/nwCHttpMimeTypeMap.h"

namespace {

std::vector<std::string> gLogged;
void Record(const char* line) {
    gLogged.emplace_back(line);
}

TEST(TlsStartupTest, NetworkCoreStartsAndStopsTheModule) {
    gLogged.clear();
    COstra::SetLogSink(&Record);
    COpenSSL::Cleanup();  // what earlier tests of this process left
    {
        nettest::NetFixture net;
        EXPECT_TRUE(COpenSSL::IsStarted());
        // A build with tests trusts the tests' CA, and nothing else of its own.
        EXPECT_EQ(COpenSSL::TrustedCertificateCount(), 1u);
        EXPECT_EQ(gLogged, (std::vector<std::string>{"Add Certificate Ok - TVX test CA"}));
        GetMimeTypeMap().Register("part", "text/plain");
        net.ostra->Stop();
        EXPECT_FALSE(COpenSSL::IsStarted());
    }
    // The core's end forgets the registered types.
    EXPECT_EQ(std::string(LookupMimeType("part").CStr()), nwCHttpMimeTypeMap::kDefaultType);
    COstra::SetLogSink(nullptr);
}

TEST(TlsStartupTest, BuiltInCertificatesAreReadAndLoggedOneByOne) {
    COstra::SetLogSink(&Record);
    nettest::NetFixture net;
    gLogged.clear();
    const size_t builtIn = COpenSSL::TrustedCertificateCount();
    const std::string pem = tlstest::Identity::Get().Pem();
    const std::string longName(300, 'n');
    const COstra::BuiltinCertificate table[] = {
        {"first", pem.c_str()},
        {"not a certificate", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"},
        {"empty", ""},
        {longName.c_str(), pem.c_str()},
    };
    EXPECT_EQ(COstra::AddTrustedCertificates(table, std::size(table)), 2u);
    EXPECT_EQ(COpenSSL::TrustedCertificateCount(), builtIn + 2);
    ASSERT_EQ(gLogged.size(), 2u);
    EXPECT_EQ(gLogged[0], "Add Certificate Ok - first");
    // A long name is logged and kept cut, never copied past its field.
    EXPECT_EQ(gLogged[1].rfind("Add Certificate Ok - nnnn", 0), 0u);
    net.ostra->Stop();
    EXPECT_EQ(COpenSSL::TrustedCertificateCount(), 0u);
    COstra::SetLogSink(nullptr);
}

TEST(TlsStartupTest, CleanupWaitsForSessionsStillAlive) {
    ASSERT_EQ(COpenSSL::Startup(), qv::kOk);
    std::string sent;
    COpenSSL::Callbacks callbacks;
    callbacks.sendCiphertext = [](const uint8_t* data, size_t length, void* context) {
        static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), length);
    };
    callbacks.context = &sent;
    auto session = COpenSSL::Create(callbacks, "example.test");
    ASSERT_TRUE(session);
    // The network stops while a connection waits for its deferred release.
    COpenSSL::Cleanup();
    EXPECT_FALSE(COpenSSL::IsStarted());
    EXPECT_EQ(session->Connect(), qv::kOk);
    EXPECT_FALSE(sent.empty());  // the ClientHello, through the method still alive
    session.reset();
    // A later start works from scratch.
    ASSERT_EQ(COpenSSL::Startup(), qv::kOk);
    EXPECT_TRUE(COpenSSL::Create(callbacks, "127.0.0.1"));
    // Without a host name there is nothing to check the server against.
    EXPECT_FALSE(COpenSSL::Create(callbacks, nullptr));
    EXPECT_FALSE(COpenSSL::Create(callbacks, ""));
    COpenSSL::Cleanup();
}

}  // namespace
