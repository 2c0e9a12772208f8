// Where the update server's credential goes, and that the program keeps
// neither the server address nor the credential as plain text.

#include "update/net/UpdateAccess.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// The build's configured values (cache variables), handed to this test only.
const std::string kServer = VELMORA_TEST_UPDATE_SERVER;
const std::string kUser = VELMORA_TEST_UPDATE_USER;
const std::string kPassword = VELMORA_TEST_UPDATE_PASSWORD;

bool shippedDefaults()
{
    return kServer == "[::1]:18443" && kUser == "velmora-test-usr" && kPassword == "tEst-pw-4-Nginx!";
}

TEST(UpdateAccess, BuiltInServerAndCredentialAreRebuilt)
{
    EXPECT_EQ(update::builtInServer(), kServer);
    if (shippedDefaults()) {
        // Base64 of "velmora-test-usr:tEst-pw-4-Nginx!", worked out apart
        // from the code.
        EXPECT_EQ(update::credentialHeader().toStdString(), "Basic dmVsbW9yYS10ZXN0LXVzcjp0RXN0LXB3LTQtTmdpbngh");
    }
}

struct ScopeCase {
    const char *name;
    std::string url;
    bool credential;
};

void PrintTo(const ScopeCase &c, std::ostream *os)
{
    *os << c.name << " " << c.url;
}

class CredentialScope : public ::testing::TestWithParam<ScopeCase> {};

// The driver's update host in these rows.
const char kHost[] = "https://drivers.example.invalid/asio/";

TEST_P(CredentialScope, OnlyTheBuiltInServerAndTheDriversHost)
{
    const update::UpdateAccess access(kHost);
    const ScopeCase &c = GetParam();
    const QNetworkRequest request = access.request(c.url);
    EXPECT_EQ(access.sendsCredential(update::UpdateAccess::toUrl(c.url)), c.credential);
    EXPECT_EQ(request.hasRawHeader("Authorization"), c.credential);
    if (c.credential) {
        EXPECT_EQ(request.rawHeader("Authorization"), update::credentialHeader());
    }
    // Nothing else is set by us.
    EXPECT_EQ(request.rawHeaderList().size(), c.credential ? 1 : 0);
}

const ScopeCase kScopes[] = {
    {"built_in_server", "https://" + kServer + "/fw/updatelist", true},
    {"built_in_server_staging", "https://" + kServer + "/fw/staging/updatelist", true},
    {"drivers_host", "https://drivers.example.invalid/asio/updatelist", true},
    {"drivers_host_other_path", "https://drivers.example.invalid/other", true},
    {"drivers_host_upper_case", "https://DRIVERS.example.invalid/asio/x.msi", true},
    {"drivers_host_explicit_port", "https://drivers.example.invalid:443/asio/x.msi", true},
    {"drivers_host_other_port", "https://drivers.example.invalid:8443/asio/x.msi", false},
    {"drivers_host_plain_http", "http://drivers.example.invalid/asio/x.msi", false},
    {"device_named_server", "https://evil.example.invalid/fw/updatelist", false},
    {"device_named_lookalike", "https://drivers.example.invalid.evil.example/asio/", false},
    {"built_in_host_plain_http", "http://" + kServer + "/fw/updatelist", false},
    {"user_info_trick", "https://" + kServer + "@evil.example.invalid/fw/", false},
    {"bare_path", "updatelist", false},
    {"empty", "", false},
};

INSTANTIATE_TEST_SUITE_P(Urls, CredentialScope, ::testing::ValuesIn(kScopes),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(UpdateAccess, NoHostMeansOnlyTheBuiltInServer)
{
    const update::UpdateAccess access("");
    EXPECT_TRUE(access.sendsCredential(update::UpdateAccess::toUrl("https://" + kServer + "/x")));
    EXPECT_FALSE(access.sendsCredential(update::UpdateAccess::toUrl("https://drivers.example.invalid/asio/")));
}

// A grep of the built program: neither text, nor the Base64 form of the
// credential, stands in it.
TEST(UpdateAccess, ProgramHoldsNoPlainSecret)
{
    const char *dir = std::getenv("VELMORA_PROGRAM_DIR");
    ASSERT_NE(dir, nullptr);
    QFile program(QString::fromLocal8Bit(dir) + "/velmora-configure");
    ASSERT_TRUE(program.open(QIODevice::ReadOnly)) << program.fileName().toStdString();
    const QByteArray bytes = program.readAll();
    ASSERT_GT(bytes.size(), 100000);
    const std::string base64 = QByteArray::fromStdString(kUser + ":" + kPassword).toBase64().toStdString();
    for (const std::string &secret : {kServer, kUser, kPassword, kUser + ":" + kPassword, base64}) {
        ASSERT_GE(secret.size(), 4u);
        EXPECT_EQ(bytes.indexOf(QByteArray::fromStdString(secret)), -1) << "plain text in the program: " << secret;
    }
}

} // namespace
