#include "queue/status_page.h"

#include <string>

#include "build_options.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "log/log.h"
#include "queue/whole_file.h"
#include "support/string_append.h"

namespace {

// The project's pages, under the web address the deployment chose.
constexpr const char* kPersonalStatsPage = QRV_WEB_ADDRESS "stats/donor";
constexpr const char* kTeamStatsPage = QRV_WEB_ADDRESS "stats/team";
constexpr const char* kHomePage = QRV_WEB_ADDRESS;
constexpr const char* kDescriptionsPage = QRV_WEB_ADDRESS "descriptions/";
constexpr const char* kDownloadPage = QRV_WEB_ADDRESS "download/";

// "page?q=value", inserted as it stands; the bare page without a value.
std::string StatsAddress(const char* page, const char* value) {
    std::string address = page;
    if (value != nullptr) AppendPrintf(address, "?q=%s", value);
    return address;
}

std::string PageText(const char* username, const char* team) {
    std::string text =
        "<html>\n<head><title>My Quorvel Page</title></head>\n<body bgcolor=#FFFFFF "
        "text=#663333 link=#CC3300 vlink=#CC3300>\n<div align=\"center\">\n<font face=\"Book "
        "Antiqua\", \"Times\">\n<h1><b>My  Quorvel  Home</b></h1>\n</font>\n</div>\n<hr>\n<font "
        "size=+1>\n";
    text += "<p><u>Your information</u><br>\n";
    AppendPrintf(text, "User name: %s<br>\n", username != nullptr ? username : "unknown");
    AppendPrintf(text, "Team number: %s<br>\n", team != nullptr ? team : "unknown");
    AppendPrintf(text,
           "<p><u>Current/latest unit</u><br>\nUnit name, download time, progress: <a "
           "href=%s>unitinfo.txt</a><br>\n",
           "unitinfo.txt");
    text += "<p><u>Statistics</u><br>\n";
    const std::string personal = StatsAddress(kPersonalStatsPage, username);
    AppendPrintf(text, "Personal statistics: <a href=\"%s\">%s</a><br>\n", personal.c_str(),
           personal.c_str());
    const std::string team_stats = StatsAddress(kTeamStatsPage, team);
    AppendPrintf(text, "Team statistics: <a href=\"%s\">%s</a><br>\n", team_stats.c_str(),
           team_stats.c_str());
    text += "<p><u>Project links</u><br>\n";
    AppendPrintf(text, "Home page: <a href=\"%s\"> %s</a><br>\n", kHomePage, kHomePage);
    AppendPrintf(text, "Current project descriptions: <a href=\"%s\">%s</a><br>\n", kDescriptionsPage,
           kDescriptionsPage);
    AppendPrintf(text, "Downloads: <a href=\"%s\"> %s</a><br>\n", kDownloadPage, kDownloadPage);
    AppendPrintf(text,
           "<p>\n(If any of the above links appear broken, please visit our <a "
           "href=\"%s\">home page</a> for current links or an upgraded client program.)<br>\n",
           kHomePage);
    text += "</font>\n</body>\n</html>\n";
    return text;
}

// A setting's value, or false when it is not set (or too long to be one).
bool ReadSetting(const char* key, std::string* value) {
    char buf[1024];
    if (v3ConfigGetCopy(ClientConfig(), "settings", key, buf, sizeof buf) != 0) return false;
    *value = buf;
    return true;
}

}  // namespace

void WriteStatusPageFor(const char* username, const char* team) {
    const std::string text = PageText(username, team);
    if (WriteWholeFile(text.data(), text.size(), kStatusPageFile) != 0) {
        LogAt(kLogNormal, "Could not write %s.\n", kStatusPageFile);
    }
}

void WriteStatusPage() {
    std::string username;
    std::string team;
    const bool has_user = ReadSetting("username", &username);
    const bool has_team = ReadSetting("team", &team);
    WriteStatusPageFor(has_user ? username.c_str() : nullptr, has_team ? team.c_str() : nullptr);
}
