#include "config/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "config/identity.h"
#include "config/registry_store.h"
#include "config_fixture.h"
#include "support/unprivileged.h"

namespace {

using qrvtest::ReadFileText;
using qrvtest::StdoutCapture;
using qrvtest::WriteFileText;

const char kDefaults[] =
    "[settings]\nusername=Anonymous\nteam=0\nasknet=no\n\n"
    "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n";

class SettingsTest : public qrvtest::ConfigTest {
protected:
    // Loads with the messages captured; gives LoadSettings' result. Every
    // test here stores its user ID (or fails before it), so the servers are
    // never to be asked.
    int Load(std::string* messages = nullptr) {
        StdoutCapture capture;
        const int rc = LoadSettings(settings_, edition_, "qrv3", [](Settings&, char*, uint64_t) {
            ADD_FAILURE() << "the servers were asked for a user ID";
            return -1;
        });
        const std::string text = capture.Take();
        if (messages) *messages = text;
        return rc;
    }
    void WriteConfig(const std::string& text) { WriteFileText("client.cfg", text); }
    // A configuration that loads, with extra lines in [settings] and [http].
    void WriteUsable(const std::string& settings_lines, const std::string& http_lines = "usereg=no\n") {
        StoreRegistryUserID("efcdab8967452301");
        WriteConfig("[settings]\nusername=bob\nteam=12\n" + settings_lines + "\n[http]\n" + http_lines + "\n");
    }
    std::string Config() { return ReadFileText("client.cfg"); }
};

TEST_F(SettingsTest, DefaultsOfAnEmptyDirectory) {
    ASSERT_EQ(WriteDefaultSettings(edition_), 0);
    EXPECT_EQ(Config(), kDefaults);
}

TEST_F(SettingsTest, DefaultsTakeTheRegistryUserAndKeepTheRest) {
    mkdir(registry_.c_str(), 0700);
    WriteFileText(MachineRegistry(), "[Software\\Tarnwick\\Quorvel\\3.24]\nName=sz:Volunteer\nTeamNum=sz:-42\n\n");
    ASSERT_EQ(WriteDefaultSettings(edition_), 0);
    EXPECT_EQ(Config().rfind("[settings]\nusername=Volunteer\nteam=-42\nasknet=no\n", 0), 0u);

    // An existing user and core settings stay; the network settings are reset.
    WriteConfig("[settings]\nusername=bob\nasknet=yes\n\n[core]\npriority=96\n\n[http]\nactive=yes\nhost=x\n\n");
    ASSERT_EQ(WriteDefaultSettings(edition_), 0);
    EXPECT_EQ(Config(),
              "[settings]\nusername=bob\nasknet=no\n\n[core]\npriority=96\n\n"
              "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n");
}

TEST_F(SettingsTest, UnreadableFileIsKeptAsideBeforeTheDefaults) {
    WriteConfig("[settings]\nusername=precious\n\n");
    ASSERT_EQ(chmod("client.cfg", 0200), 0);
    ASSERT_TRUE(qrvtest::GiveToChecker(dir()));
    ASSERT_TRUE(qrvtest::GiveToChecker(dir() + "/client.cfg"));
    EXPECT_EQ(qrvtest::RunUnprivileged([this] { return Load() == -1 ? WriteDefaultSettings(edition_) : -50; }), 0);
    chmod("client.cfg.bad", 0600);
    EXPECT_EQ(ReadFileText("client.cfg.bad"), "[settings]\nusername=precious\n\n");
    EXPECT_EQ(Config(), kDefaults);
}

TEST_F(SettingsTest, MissingFileFailsSilently) {
    std::string messages;
    EXPECT_EQ(Load(&messages), -1);
    EXPECT_EQ(messages, "");
}

TEST_F(SettingsTest, DefaultFileLoadsWithTheRegistryUserID) {
    ASSERT_EQ(WriteDefaultSettings(edition_), 0);
    StoreRegistryUserID("efcdab8967452301");
    std::string messages;
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_NE(messages.find("- Ask before connecting: No\n"), std::string::npos);
    EXPECT_NE(messages.find("- User name: Anonymous (Team 0)\n"), std::string::npos);
    EXPECT_NE(messages.find("- User ID = 123456789ABCDEF\n"), std::string::npos);
    EXPECT_NE(messages.find("- Machine ID: 1\n"), std::string::npos);
    EXPECT_EQ(settings_.user_id, 0x0123456789ABCDEFull);
    EXPECT_EQ(settings_.permission.given, 1u);
    EXPECT_EQ(settings_.cpu_usage, 100u);
    EXPECT_EQ(settings_.use_assembly, 1u);
    EXPECT_EQ(settings_.deadline, 1u);
    // The machine ID was missing and is written; active=no needs no more.
    EXPECT_EQ(Config(),
              "[settings]\nusername=Anonymous\nteam=0\nasknet=no\nmachineid=1\n\n"
              "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\n\n");
}

TEST_F(SettingsTest, MachineIDOutOfRangeBecomesOne) {
    for (const char* bad : {"machineid=0\n", "machineid=7\n", "machineid=a\n", "machineid=x\n", ""}) {
        WriteUsable(std::string(bad) + "local=3\n");
        settings_.machine_id = 9;
        ASSERT_EQ(Load(), 0) << bad;
        EXPECT_EQ(settings_.machine_id, 1u) << bad;
        const std::string text = Config();
        EXPECT_NE(text.find("machineid=1\n"), std::string::npos) << bad;
        if (bad[0] != '\0') {
            EXPECT_EQ(text.find(bad), std::string::npos) << bad;
        }
    }
    WriteUsable("machineid=4\n");
    ASSERT_EQ(Load(), 0);
    EXPECT_EQ(settings_.machine_id, 4u);
}

// QRV_MACHINE_ID (one per service instance) is the machine ID a client.cfg
// gets when it has none that is valid; one already there never changes.
TEST_F(SettingsTest, MachineIDDefaultComesFromTheEnvironmentAndIsKeptAfter) {
    struct Unset {
        ~Unset() { unsetenv("QRV_MACHINE_ID"); }
    } unset;
    setenv("QRV_MACHINE_ID", "3", 1);
    for (const char* missing_or_bad : {"", "machineid=7\n"}) {
        WriteUsable(missing_or_bad);
        ASSERT_EQ(Load(), 0) << missing_or_bad;
        EXPECT_EQ(settings_.machine_id, 3u) << missing_or_bad;
        EXPECT_NE(Config().find("machineid=3\n"), std::string::npos) << Config();
        // The next start, with another default, keeps the written ID.
        setenv("QRV_MACHINE_ID", "2", 1);
        ASSERT_EQ(Load(), 0);
        EXPECT_EQ(settings_.machine_id, 3u) << missing_or_bad;
        EXPECT_NE(Config().find("machineid=3\n"), std::string::npos) << Config();
        setenv("QRV_MACHINE_ID", "3", 1);
    }
    // A value that is no machine ID is refused, and the fallback is 1.
    for (const char* bad : {"5", "0", "01", " 2", "2 ", "x"}) {
        setenv("QRV_MACHINE_ID", bad, 1);
        uint32_t id = 0;
        EXPECT_EQ(DefaultMachineID(&id), -1) << bad;
        EXPECT_EQ(id, 1u) << bad;
    }
    unsetenv("QRV_MACHINE_ID");
    uint32_t id = 0;
    EXPECT_EQ(DefaultMachineID(&id), 0);
    EXPECT_EQ(id, 1u);
}

TEST_F(SettingsTest, YesTestsAndNumbers) {
    WriteUsable("asknet=Yes\n");
    WriteConfig(Config() + "[core]\ndisableassembly=Y\nignoredeadlines=no\npriority=96\ncpuusage=50%\n\n"
                           "[clienttype]\ntype=2\n\n");
    ASSERT_EQ(Load(), 0);
    EXPECT_EQ(settings_.permission.asknet, 0u);  // "Yes" is not "yes"
    EXPECT_EQ(settings_.permission.given, 1u);
    EXPECT_EQ(settings_.use_assembly, 0u);
    EXPECT_EQ(settings_.deadline, 1u);
    EXPECT_EQ(settings_.core_priority, 96u);
    EXPECT_EQ(settings_.cpu_usage, 50u);
    EXPECT_EQ(settings_.client_type, 2u);

    WriteUsable("asknet=yes\n");
    WriteConfig(Config() + "[core]\nignoredeadlines=yes\ncpuusage=lots\n\n");
    std::string messages;
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_NE(messages.find("- Ask before connecting: Yes\n"), std::string::npos);
    EXPECT_EQ(settings_.permission.asknet, 1u);
    EXPECT_EQ(settings_.permission.given, 0u);
    EXPECT_EQ(settings_.deadline, 0u);
    EXPECT_EQ(settings_.cpu_usage, 100u);  // no number: the default
}

TEST_F(SettingsTest, MissingConnectionSettingsAreWrittenAsNo) {
    StoreRegistryUserID("0100000000000000");
    WriteConfig("[settings]\nusername=bob\n\n[http]\nactive=no\n\n");
    ASSERT_EQ(Load(), 0);
    EXPECT_NE(Config().find("[http]\nactive=no\nusereg=no\n"), std::string::npos);

    WriteConfig("[settings]\nusername=bob\n\n");
    ASSERT_EQ(Load(), 0);
    EXPECT_NE(Config().find("[http]\nusereg=no\nactive=no\n"), std::string::npos);

    WriteConfig("[settings]\nusername=bob\n\n[http]\nusereg=yes\nactive=yes\n\n");
    std::string messages;
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_NE(messages.find("- Use IE connection settings: Yes\n"), std::string::npos);
    EXPECT_EQ(settings_.usereg, 1u);
}

TEST_F(SettingsTest, ProxySettings) {
    std::string messages;
    WriteUsable("", "usereg=no\nactive=yes\nport=8080\n");
    EXPECT_EQ(Load(&messages), -1);
    EXPECT_NE(messages.find("Bad proxy settings. Use qrv3 -config to reconfigure\n"), std::string::npos);

    WriteUsable("", "usereg=no\nactive=yes\nhost=10.1.2.3\n");
    EXPECT_EQ(Load(&messages), -1);
    EXPECT_NE(messages.find("+ Bad proxy settings. Please reconfigure\n"), std::string::npos);

    WriteUsable("", "usereg=no\nactive=yes\nhost=10.1.2.3\nport=3128\n");
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_NE(messages.find("- Proxy: 10.1.2.3:3128\n"), std::string::npos);
    EXPECT_EQ(settings_.proxy.address, 0x0A010203u);
    EXPECT_EQ(settings_.proxy.port, 3128u);
    EXPECT_NE(Config().find("port=3128\nusepasswd=no\n"), std::string::npos);

    WriteUsable("", "usereg=no\nactive=yes\nport=3128\nhost=localhost\n");
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_EQ(settings_.proxy.address, 0x7F000001u);

    // A name that cannot be resolved is no error: the client connects
    // directly.
    for (const char* host : {"proxy.invalid", "10.1.2.300"}) {
        WriteUsable("", std::string("usereg=no\nactive=yes\nport=3128\nhost=") + host + "\n");
        ASSERT_EQ(Load(&messages), 0) << host;
        EXPECT_NE(messages.find("Failed to resolve hostname for proxy. Will connect directly.\n"),
                  std::string::npos)
            << host;
        EXPECT_EQ(settings_.proxy.address, 0u) << host;
    }

    WriteUsable("", "usereg=no\nactive=no\n");
    ASSERT_EQ(Load(), 0);
    EXPECT_EQ(settings_.proxy.address, 0u);
    EXPECT_EQ(settings_.proxy.port, 0u);
}

TEST_F(SettingsTest, ProxyCredentials) {
    const std::string proxy = "usereg=no\nactive=yes\nhost=1.2.3.4\nport=80\nusepasswd=yes\n";
    std::string messages;
    WriteUsable("", proxy + "proxy_name=user\nproxy_passwd=secret\n");
    // Readable by all, as an editor or an older client may have left it: the
    // save of the missing machine ID makes it the owner's alone.
    ASSERT_EQ(chmod("client.cfg", 0644), 0);
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_NE(messages.find("- Proxy password enabled\n"), std::string::npos);
    EXPECT_STREQ(settings_.proxy.name, "user");
    EXPECT_STREQ(settings_.proxy.password, "secret");
    struct stat st {};
    ASSERT_EQ(stat("client.cfg", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_NE(Config().find("team=12\nmachineid=1\n"), std::string::npos) << Config();
    EXPECT_NE(Config().find("proxy_passwd=secret\n"), std::string::npos) << Config();

    // 64 characters do not fit: the password is not used, the name stays.
    WriteUsable("", proxy + "proxy_name=user\nproxy_passwd=" + std::string(64, 'p') + "\n");
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_EQ(messages.find("- Proxy password enabled\n"), std::string::npos);
    EXPECT_STREQ(settings_.proxy.name, "user");
    EXPECT_STREQ(settings_.proxy.password, "");

    WriteUsable("", proxy + "proxy_name=other\n");
    ASSERT_EQ(Load(), 0);
    EXPECT_STREQ(settings_.proxy.name, "");

    WriteUsable("", "usereg=no\nactive=yes\nhost=1.2.3.4\nport=80\nusepasswd=no\nproxy_name=u\nproxy_passwd=p\n");
    ASSERT_EQ(Load(), 0);
    EXPECT_STREQ(settings_.proxy.name, "");
    EXPECT_STREQ(settings_.proxy.password, "");
}

TEST_F(SettingsTest, UserIDIsKeptWhereItCanBe) {
    WriteConfig(kDefaults);
    ASSERT_EQ(v3ConfigLoad(ClientConfig(), "client.cfg"), 0);
    uint64_t id = 0xFEDCBA9876543210ull;
    ASSERT_EQ(LoadSaveUserID(edition_, &id, 1), 0);
    EXPECT_EQ(ReadFileText(MachineRegistry()), "[Software\\Tarnwick\\Quorvel]\nUserID=bin:1032547698badcfe\n\n");
    uint64_t back = 0;
    ASSERT_EQ(LoadSaveUserID(edition_, &back, 0), 0);
    EXPECT_EQ(back, id);
    EXPECT_EQ(Config().find("userid"), std::string::npos);
}

TEST_F(SettingsTest, UnwritableRegistryKeepsTheUserIDInClientCfg) {
    WriteFileText("blocker", "");
    setenv("QRV_REGISTRY_DIR", (dir() + "/blocker/store").c_str(), 1);
    WriteConfig(kDefaults);
    ASSERT_EQ(v3ConfigLoad(ClientConfig(), "client.cfg"), 0);
    uint64_t id = 0xABCull;
    ASSERT_EQ(LoadSaveUserID(edition_, &id, 1), 0);
    EXPECT_NE(Config().find("[settings]\nusername=Anonymous\nteam=0\nasknet=no\nuserid=ABC\n"), std::string::npos);

    // The next start finds it there.
    settings_.user_id = 0;
    std::string messages;
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_EQ(settings_.user_id, 0xABCull);
    EXPECT_NE(messages.find("- User ID = ABC\n"), std::string::npos);
}

TEST_F(SettingsTest, MachineKeyWithoutAnIDDoesNotHideTheUsersOne) {
    mkdir(registry_.c_str(), 0700);
    WriteFileText(MachineRegistry(), "[Software\\Tarnwick\\Quorvel]\nOther=sz:x\n\n");
    WriteFileText(UserRegistry(), "[Software\\Tarnwick\\Quorvel]\nUserID=bin:0500000000000000\n\n");
    uint64_t id = 0;
    ASSERT_EQ(LoadSaveUserID(edition_, &id, 0), 0);
    EXPECT_EQ(id, 5u);
}

TEST_F(SettingsTest, PartnerEditionKeepsTheIDInClientCfgAndComparesNames) {
    edition_ = 5;
    WriteConfig(kDefaults);
    ASSERT_EQ(v3ConfigLoad(ClientConfig(), "client.cfg"), 0);
    uint64_t id = 0x77;
    ASSERT_EQ(LoadSaveUserID(edition_, &id, 1), 0);
    EXPECT_NE(Config().find("userid=77\n"), std::string::npos);
    EXPECT_FALSE(qrvtest::FileExists(MachineRegistry()));

    mkdir(registry_.c_str(), 0700);
    WriteFileText(UserRegistry(), "[Software\\Vantor\\Zelclient]\nUserName=sz:Zed\nTeamNum=sz:9\n\n");
    std::string messages;
    ASSERT_EQ(Load(&messages), 0);
    EXPECT_NE(messages.find("\nWarning: Username from client.cfg didn't match registry (Anonymous vs Zed)\n"),
              std::string::npos);
    EXPECT_EQ(settings_.user_id, 0x77u);
}

TEST_F(SettingsTest, RegistryUser) {
    char name[kRegistryNameSize];
    int32_t team = -1;
    EXPECT_EQ(ReadRegistryUser(edition_, name, &team), -1);

    mkdir(registry_.c_str(), 0700);
    const std::string key = "[Software\\Tarnwick\\Quorvel\\3.24]\n";
    WriteFileText(MachineRegistry(), key + "Name=sz:" + std::string(99, 'n') + "\n\n");
    ASSERT_EQ(ReadRegistryUser(edition_, name, &team), 0);
    EXPECT_EQ(std::string(name), std::string(99, 'n'));
    EXPECT_EQ(team, 0);

    WriteFileText(MachineRegistry(), key + "Name=sz:" + std::string(100, 'n') + "\nTeamNum=sz:5\n\n");
    EXPECT_EQ(ReadRegistryUser(edition_, name, &team), -1);
    WriteFileText(MachineRegistry(), key + "Name=bin:00\n\n");
    EXPECT_EQ(ReadRegistryUser(edition_, name, &team), -1);
    WriteFileText(MachineRegistry(), key + "Name=sz:ann\nTeamNum=bin:05\n\n");
    ASSERT_EQ(ReadRegistryUser(edition_, name, &team), 0);
    EXPECT_EQ(team, 0);

    edition_ = 9;
    StdoutCapture capture;
    EXPECT_EQ(ReadRegistryUser(edition_, name, &team), -1);
    EXPECT_EQ(capture.Take(), "Unknown Client subtype: 9\n");
}

TEST_F(SettingsTest, CountsCompletedUnits) {
    WriteConfig(kDefaults);
    ASSERT_EQ(v3ConfigLoad(ClientConfig(), "client.cfg"), 0);
    StdoutCapture first;
    ASSERT_EQ(CountCompletedUnit(settings_), 0);
    EXPECT_NE(first.Take().find("+ Starting local stats count at 1\n"), std::string::npos);
    EXPECT_NE(Config().find("local=1\n"), std::string::npos);
    StdoutCapture second;
    ASSERT_EQ(CountCompletedUnit(settings_), 0);
    EXPECT_NE(second.Take().find("+ Number of Units Completed: 2\n"), std::string::npos);
    ASSERT_EQ(CountCompletedUnit(settings_), 0);
    EXPECT_NE(Config().find("local=3\n"), std::string::npos);

    // A count kept from earlier runs goes on.
    settings_.local_units = 0;
    WriteConfig("[settings]\nlocal=41\n\n");
    ASSERT_EQ(v3ConfigLoad(ClientConfig(), "client.cfg"), 0);
    ASSERT_EQ(CountCompletedUnit(settings_), 0);
    EXPECT_EQ(Config(), "[settings]\nlocal=42\n\n");
}

TEST_F(SettingsTest, WorkingDirectoryFromTheRegistry) {
    EXPECT_EQ(SetWorkingDirectory(edition_), -1);
    const std::string work = dir() + "/elsewhere";
    mkdir(work.c_str(), 0700);
    mkdir(registry_.c_str(), 0700);
    WriteFileText(UserRegistry(), "[Software\\Tarnwick\\Quorvel]\nDirName=sz:" + work + "\n\n");
    ASSERT_EQ(SetWorkingDirectory(edition_), 0);
    EXPECT_EQ(std::filesystem::current_path().string(), work);

    // The partner edition keeps its directory.
    ASSERT_EQ(chdir(dir().c_str()), 0);
    edition_ = 5;
    EXPECT_EQ(SetWorkingDirectory(edition_), 0);
    EXPECT_EQ(std::filesystem::current_path().string(), dir());

    edition_ = 2;
    WriteFileText(UserRegistry(), "[Software\\Tarnwick\\Quorvel]\nDirName=sz:/" + std::string(998, 'd') + "\n\n");
    EXPECT_EQ(SetWorkingDirectory(edition_), -1);
    WriteFileText(UserRegistry(), "[Software\\Tarnwick\\Quorvel]\nDirName=bin:2f\n\n");
    EXPECT_EQ(SetWorkingDirectory(edition_), -1);
}

}  // namespace
