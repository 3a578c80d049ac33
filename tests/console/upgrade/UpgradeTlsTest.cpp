// Downloads from nginx on 127.0.0.1 over HTTP and HTTPS, with a CA and
// server certificates the test makes with openssl.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "console/services/Download.h"
#include "tests/ChildProcess.h"
#include "tests/console/media/NginxServer.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kBodyBytes = 300000;  // many 10240-byte reads

bool RunTool(std::vector<std::string> args, const fs::path& folder) {
    testsupport::TChildProcess tool;
    return tool.Start(std::move(args), (folder / "openssl.err").string()) && tool.WaitForExit(60000) == 0;
}

// A CA, and two server certificates it signs: one for 127.0.0.1, one for
// another host name.
class TCertificates {
public:
    explicit TCertificates(fs::path folder) : m_folder(std::move(folder)) {}

    bool Make() {
        return Tool({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                     "-keyout", Path("ca.key"), "-out", CaFile(), "-days", "2", "-subj", "/CN=Test CA"}) &&
               Server("local", "subjectAltName=IP:127.0.0.1") &&
               Server("other", "subjectAltName=DNS:other.example");
    }
    std::string CaFile() const { return Path("ca.pem"); }
    std::string Path(const std::string& name) const { return (m_folder / name).string(); }

private:
    bool Tool(std::vector<std::string> args) {
        args.insert(args.begin(), OPENSSL_PATH);
        return RunTool(std::move(args), m_folder);
    }
    bool Server(const std::string& name, const std::string& names) {
        std::ofstream(m_folder / (name + ".ext")) << names << "\nbasicConstraints=CA:FALSE\n";
        return Tool({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                     Path(name + ".key"), "-out", Path(name + ".csr"), "-subj", "/CN=" + name}) &&
               Tool({"x509", "-req", "-in", Path(name + ".csr"), "-CA", CaFile(), "-CAkey", Path("ca.key"),
                     "-CAcreateserial", "-days", "2", "-extfile", Path(name + ".ext"), "-out",
                     Path(name + ".pem")});
    }

    fs::path m_folder;
};

class UpgradeTlsTest : public testing::Test {
protected:
    void SetUp() override {
        m_home = std::getenv("HOME");
        fs::create_directories(m_home / "www");
        fs::create_directories(m_home / "certs");
        ASSERT_TRUE(m_certificates.Make());
        std::mt19937 random(7);
        m_strBody.resize(kBodyBytes);
        for (char& c : m_strBody) c = static_cast<char>(random());
        std::ofstream(m_home / "www" / "QndlSetup.exe", std::ios::binary) << m_strBody;
    }

    // An nginx serving www/ plainly, or over TLS with certificate `name`.
    std::unique_ptr<mediatest::TNginxServer> StartNginx(const std::string& name, const std::string& certificate) {
        const fs::path folder = m_home / ("nginx-" + name);
        auto blocks = [this, folder, certificate](int port) {
            std::string text = "http {\n  access_log off;\n  default_type application/octet-stream;\n";
            for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
                text += std::string("  ") + temp + "_temp_path " + (folder / temp).string() + ";\n";
            text += "  server {\n    listen 127.0.0.1:" + std::to_string(port) +
                    (certificate.empty() ? "" : " ssl") + ";\n    root " + (m_home / "www").string() + ";\n";
            if (!certificate.empty()) {
                text += "    ssl_certificate " + m_certificates.Path(certificate + ".pem") + ";\n" +
                        "    ssl_certificate_key " + m_certificates.Path(certificate + ".key") + ";\n";
            }
            return text + "  }\n}\n";
        };
        auto server = std::make_unique<mediatest::TNginxServer>(folder.string(), blocks);
        EXPECT_TRUE(server->Start()) << server->Log();
        return server;
    }
    static std::string Url(const std::string& scheme, const mediatest::TNginxServer& server,
                           const std::string& path = "/QndlSetup.exe") {
        return scheme + "://127.0.0.1:" + std::to_string(server.Port()) + path;
    }
    console::TDownloadOptions Trusting() const {
        console::TDownloadOptions options;
        options.trust.caFile = m_certificates.CaFile();
        return options;
    }
    fs::path Target() const { return m_home / "QndlSetup.exe"; }
    void ExpectNoPackage() const {
        EXPECT_FALSE(fs::exists(Target()));
        EXPECT_FALSE(fs::exists(console::PartialPath(Target())));
    }

    fs::path m_home;
    TCertificates m_certificates{fs::path(std::getenv("HOME")) / "certs"};
    std::string m_strBody;
};

struct TSeen {
    uint64_t total = 0;
    uint64_t done = 0;
};

int Remember(uint64_t total, uint64_t done, void* user) {
    *static_cast<TSeen*>(user) = {total, done};
    return 0;
}

TEST_F(UpgradeTlsTest, BodyArrivesByteIdenticalOverHttpAndHttps) {
    const auto plain = StartNginx("plain", "");
    const auto secure = StartNginx("secure", "local");
    for (const auto& [scheme, server] : {std::pair{"http", plain.get()}, std::pair{"https", secure.get()}}) {
        TSeen seen;
        ASSERT_TRUE(console::Download({&Remember, &seen}, Url(scheme, *server), Target(), Trusting())) << scheme;
        EXPECT_EQ(testsupport::ReadWholeFile(Target().string()), m_strBody) << scheme;
        EXPECT_EQ(seen.total, kBodyBytes);
        EXPECT_EQ(seen.done, kBodyBytes);
        fs::remove(Target());
    }
}

TEST_F(UpgradeTlsTest, HttpsRefusedWithoutTrustOrForAnotherHost) {
    const auto local = StartNginx("local", "local");
    const auto other = StartNginx("other", "other");
    EXPECT_FALSE(console::Download({}, Url("https", *local), Target()));  // system store: CA unknown
    ExpectNoPackage();
    EXPECT_FALSE(console::Download({}, Url("https", *other), Target(), Trusting()));
    ExpectNoPackage();
}

TEST_F(UpgradeTlsTest, NotFoundIsNoPackage) {
    const auto plain = StartNginx("plain", "");
    EXPECT_FALSE(console::Download({}, Url("http", *plain, "/missing.exe"), Target()));
    ExpectNoPackage();
}

}  // namespace
