#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "config/config_file.h"
#include "config/registry_store.h"
#include "config/settings.h"
#include "queue/status_page.h"
#include "queue/unit_status.h"
#include "queue/whole_file.h"
#include "support/byte_order.h"
#include "queue_test_support.h"
#include "build_options.h"

namespace {

using qrvtest::FileExists;
using qrvtest::ReadFileText;
using qrvtest::Seconds2003;

class UnitStatusTest : public qrvtest::QueueTest {
protected:
    static std::string Record(const char* name, uint32_t total, uint32_t done) {
        std::string r(kProgressRecordSize, '\0');
        memcpy(r.data() + kProgressName, name, strlen(name));
        StoreLE32(reinterpret_cast<uint8_t*>(r.data()) + kProgressTotal, total);
        StoreLE32(reinterpret_cast<uint8_t*>(r.data()) + kProgressDone, done);
        return r;
    }
    static const uint8_t* Bytes(const std::string& s) {
        return reinterpret_cast<const uint8_t*>(s.data());
    }
};

TEST_F(UnitStatusTest, UnitInfoShowsTimesAndATruncatedProgressBar) {
    const std::string r = Record("p1234_demo", 200, 75);
    const Int128 received = MakeTimeValue(Seconds2003(2, 5, 17, 32, 9), 0);
    const Int128 due = MakeTimeValue(Seconds2003(2, 15, 7, 3, 0), 0);
    WriteUnitInfo(Bytes(r), &received, &due);
    EXPECT_EQ(ReadFileText("unitinfo.txt"),
              "Current Work Unit\n-----------------\nName: p1234_demo\n"
              "Download time: Feburary 5 17:32:09\nDue time: Feburary 15 07:03:00\n"
              "Progress: 37%  [|||_______]\n");

    WriteUnitInfo(Bytes(Record("p9", 0, 75)), &received, nullptr);
    EXPECT_EQ(ReadFileText("unitinfo.txt"),
              "Current Work Unit\n-----------------\nName: p9\n"
              "Download time: Feburary 5 17:32:09\nProgress: 0%  [__________]\n");
}

TEST_F(UnitStatusTest, ProgressPastTheTotalFillsTheBarWithinBounds) {
    WriteUnitInfo(Bytes(Record("a", 100, 100)), nullptr, nullptr);
    EXPECT_NE(ReadFileText("unitinfo.txt").find("Progress: 100%  [||||||||||]\n"),
              std::string::npos);
    WriteUnitInfo(Bytes(Record("a", 100, 150)), nullptr, nullptr);
    EXPECT_NE(ReadFileText("unitinfo.txt").find("Progress: 150%  [|||||||||||||||]\n"),
              std::string::npos);
    // A core's nonsense counts must not turn into a file of gigabytes.
    WriteUnitInfo(Bytes(Record("a", 1, 0xFFFFFFFFu)), nullptr, nullptr);
    const std::string info = ReadFileText("unitinfo.txt");
    EXPECT_NE(info.find("Progress: 429496729500%  [" + std::string(100, '|') + "]\n"),
              std::string::npos);
}

TEST_F(UnitStatusTest, UnterminatedUnitNameStaysWithinItsField) {
    std::string r = Record("", 10, 5);
    memset(r.data() + kProgressName, 'z', kProgressNameSize);
    memset(r.data() + kProgressTotal, 'Q', 4);  // what follows the name
    WriteUnitInfo(Bytes(r), nullptr, nullptr);
    EXPECT_NE(ReadFileText("unitinfo.txt").find("Name: " + std::string(79, 'z') + "\n"),
              std::string::npos);
}

TEST_F(UnitStatusTest, PartnerRegistryNeedsItsKey) {
    setenv("QRV_REGISTRY_DIR", (dir() + "/registry").c_str(), 1);
    EXPECT_EQ(WritePartnerRegistry(Bytes(Record("a", 3, 1))), -1);
    EXPECT_FALSE(FileExists("registry/HKCU.txt"));
    unsetenv("QRV_REGISTRY_DIR");
}

TEST_F(UnitStatusTest, WholeFileReadsAndWrites) {
    char buf[8] = {};
    uint64_t n = 99;
    EXPECT_EQ(ReadWholeFile(buf, sizeof buf, &n, "missing.dat"), -1);
    EXPECT_EQ(n, 0u);
    qrvtest::WriteFileText("empty.dat", "");
    n = 99;
    EXPECT_EQ(ReadWholeFile(buf, sizeof buf, &n, "empty.dat"), -1);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(WriteWholeFile("0123456789", 10, "data.dat"), 0);
    EXPECT_EQ(ReadWholeFile(buf, sizeof buf, &n, "data.dat"), 0);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(std::string(buf, 8), "01234567");
    EXPECT_EQ(WriteWholeFile("x", 1, "no/such/folder/data.dat"), -1);
}

TEST_F(UnitStatusTest, SnapshotRemoval) {
    qrvtest::WriteFileText("current.xyz", "keep");
    ASSERT_EQ(mkdir("work", 0700), 0);
    qrvtest::WriteFileText("work/current.xyz", "atoms");
    EXPECT_EQ(RemoveSnapshot(), 0);
    EXPECT_FALSE(FileExists("work/current.xyz"));
    EXPECT_TRUE(FileExists("current.xyz"));
}

TEST_F(UnitStatusTest, StatusPageWithoutUserOrTeam) {
    WriteStatusPageFor(nullptr, nullptr);
    const std::string page = ReadFileText("MyQuorvel.html");
    const std::string web = QRV_WEB_ADDRESS;
    EXPECT_EQ(page.rfind("<html>\n<head><title>My Quorvel Page</title></head>\n", 0), 0u);
    EXPECT_NE(page.find("<h1><b>My  Quorvel  Home</b></h1>\n"), std::string::npos);
    EXPECT_NE(page.find("User name: unknown<br>\nTeam number: unknown<br>\n"), std::string::npos);
    EXPECT_NE(page.find("progress: <a href=unitinfo.txt>unitinfo.txt</a><br>\n"),
              std::string::npos);
    const std::string personal = web + "stats/donor";
    EXPECT_NE(page.find("Personal statistics: <a href=\"" + personal + "\">" + personal +
                        "</a><br>\n"),
              std::string::npos);
    const std::string team = web + "stats/team";
    EXPECT_NE(page.find("Team statistics: <a href=\"" + team + "\">" + team + "</a><br>\n"),
              std::string::npos);
    EXPECT_NE(page.find("Home page: <a href=\"" + web + "\"> " + web + "</a><br>\n"),
              std::string::npos);
    const std::string end =
        "<p>\n(If any of the above links appear broken, please visit our <a href=\"" + web +
        "\">home page</a> for current links or an upgraded client program.)<br>\n"
        "</font>\n</body>\n</html>\n";
    ASSERT_GE(page.size(), end.size());
    EXPECT_EQ(page.substr(page.size() - end.size()), end);
}

TEST_F(UnitStatusTest, StatusPageEscapesNamesAndEncodesTheirQueries) {
    WriteStatusPageFor("Ada Lovelace", "42");
    std::string page = ReadFileText("MyQuorvel.html");
    const std::string personal = std::string(QRV_WEB_ADDRESS) + "stats/donor?q=Ada%20Lovelace";
    EXPECT_NE(page.find("User name: Ada Lovelace<br>\nTeam number: 42<br>\n"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"" + personal + "\">" + personal + "</a>"), std::string::npos);
    EXPECT_NE(page.find("stats/team?q=42\">"), std::string::npos);

    // Names that would be markup: neither may open a tag, end an attribute
    // or start a character reference, and each query holds its whole value.
    WriteStatusPageFor("Ana <i>& co", "7'\"#x=1");
    page = ReadFileText("MyQuorvel.html");
    EXPECT_NE(page.find("User name: Ana &lt;i&gt;&amp; co<br>\nTeam number: 7&#39;&quot;#x=1<br>\n"),
              std::string::npos)
        << page;
    const std::string donor = std::string(QRV_WEB_ADDRESS) + "stats/donor?q=Ana%20%3Ci%3E%26%20co";
    EXPECT_NE(page.find("Personal statistics: <a href=\"" + donor + "\">" + donor + "</a><br>\n"),
              std::string::npos)
        << page;
    const std::string team = std::string(QRV_WEB_ADDRESS) + "stats/team?q=7%27%22%23x%3D1";
    EXPECT_NE(page.find("Team statistics: <a href=\"" + team + "\">" + team + "</a><br>\n"),
              std::string::npos)
        << page;
    EXPECT_EQ(page.find("<i>"), std::string::npos) << page;
    EXPECT_EQ(page.find("& "), std::string::npos) << page;
}

TEST_F(UnitStatusTest, UnwritablePageIsReported) {
    ASSERT_EQ(mkdir("MyQuorvel.html", 0700), 0);  // a folder in the file's place
    BeginCapture();
    WriteStatusPageFor("a", "b");
    const std::string out = EndCapture();
    EXPECT_NE(out.find("Could not write MyQuorvel.html.\n"), std::string::npos);
}

TEST_F(UnitStatusTest, StatusPageTakesUserAndTeamFromTheSettings) {
    v3Config* config = ClientConfig();
    ASSERT_EQ(v3ConfigSet(config, "settings", "username", "Bob"), 0);
    ASSERT_EQ(v3ConfigSet(config, "settings", "team", nullptr), 0);
    WriteStatusPage();
    v3ConfigClear(config);
    const std::string page = ReadFileText("MyQuorvel.html");
    EXPECT_NE(page.find("User name: Bob<br>\nTeam number: unknown<br>\n"), std::string::npos);
    EXPECT_NE(page.find("stats/donor?q=Bob\">"), std::string::npos);
    EXPECT_NE(page.find("stats/team\">"), std::string::npos);
}

}  // namespace
