#include "queue/status_page.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "build_options.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "log/log.h"
#include "queue/whole_file.h"

namespace {

// The project's pages, under the web address the deployment chose.
constexpr const char* kPersonalStatsPage = QRV_WEB_ADDRESS "stats/donor";
constexpr const char* kTeamStatsPage = QRV_WEB_ADDRESS "stats/team";
constexpr const char* kHomePage = QRV_WEB_ADDRESS;
constexpr const char* kDescriptionsPage = QRV_WEB_ADDRESS "descriptions/";
constexpr const char* kDownloadPage = QRV_WEB_ADDRESS "download/";

void Append(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Append(std::string& text, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    const int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n > 0) {
        std::vector<char> piece(static_cast<size_t>(n) + 1);
        vsnprintf(piece.data(), piece.size(), format, again);
        text.append(piece.data(), static_cast<size_t>(n));
    }
    va_end(again);
}

// "page?q=value", inserted as it stands; the bare page without a value.
std::string StatsAddress(const char* page, const char* value) {
    std::string address = page;
    if (value != nullptr) Append(address, "?q=%s", value);
    return address;
}

std::string PageText(const char* username, const char* team) {
    std::string text =
        "<html>\n<head><title>My Quorvel Page</title></head>\n<body bgcolor=#FFFFFF "
        "text=#663333 link=#CC3300 vlink=#CC3300>\n<div align=\"center\">\n<font face=\"Book "
        "Antiqua\", \"Times\">\n<h1><b>My  Quorvel  Home</b></h1>\n</font>\n</div>\n<hr>\n<font "
        "size=+1>\n";
    text += "<p><u>Your information</u><br>\n";
    Append(text, "User name: %s<br>\n", username != nullptr ? username : "unknown");
    Append(text, "Team number: %s<br>\n", team != nullptr ? team : "unknown");
    Append(text,
           "<p><u>Current/latest unit</u><br>\nUnit name, download time, progress: <a "
           "href=%s>unitinfo.txt</a><br>\n",
           "unitinfo.txt");
    text += "<p><u>Statistics</u><br>\n";
    const std::string personal = StatsAddress(kPersonalStatsPage, username);
    Append(text, "Personal statistics: <a href=\"%s\">%s</a><br>\n", personal.c_str(),
           personal.c_str());
    const std::string team_stats = StatsAddress(kTeamStatsPage, team);
    Append(text, "Team statistics: <a href=\"%s\">%s</a><br>\n", team_stats.c_str(),
           team_stats.c_str());
    text += "<p><u>Project links</u><br>\n";
    Append(text, "Home page: <a href=\"%s\"> %s</a><br>\n", kHomePage, kHomePage);
    Append(text, "Current project descriptions: <a href=\"%s\">%s</a><br>\n", kDescriptionsPage,
           kDescriptionsPage);
    Append(text, "Downloads: <a href=\"%s\"> %s</a><br>\n", kDownloadPage, kDownloadPage);
    Append(text,
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
        if (LogLevelOn(3)) LogPrint("Could not write %s.\n", kStatusPageFile);
    }
}

void WriteStatusPage() {
    std::string username;
    std::string team;
    const bool has_user = ReadSetting("username", &username);
    const bool has_team = ReadSetting("team", &team);
    WriteStatusPageFor(has_user ? username.c_str() : nullptr, has_team ? team.c_str() : nullptr);
}
