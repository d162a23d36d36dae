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
    COstra::SetLogSink(&Record);
    {
        nettest::NetFixture net;
        EXPECT_TRUE(COpenSSL::IsStarted());
        // This build trusts no certificate, so nothing is logged.
        EXPECT_EQ(COpenSSL::TrustedCertificateCount(), 0u);
        EXPECT_TRUE(gLogged.empty());
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
    const std::string pem = tlstest::Identity::Get().Pem();
    const std::string longName(300, 'n');
    const COstra::BuiltinCertificate table[] = {
        {"first", pem.c_str()},
        {"not a certificate", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"},
        {"empty", ""},
        {longName.c_str(), pem.c_str()},
    };
    EXPECT_EQ(COstra::AddTrustedCertificates(table, std::size(table)), 2u);
    EXPECT_EQ(COpenSSL::TrustedCertificateCount(), 2u);
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
    EXPECT_TRUE(COpenSSL::Create(callbacks, nullptr));
    COpenSSL::Cleanup();
}

}  // namespace
