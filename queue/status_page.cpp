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

// A value as it may stand in the page's text or in an attribute in double
// quotes: user name and team are the volunteer's own words, and a "<" or
// "&" in them must not start markup or a character reference.
std::string HtmlEscaped(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        switch (c) {
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '&': escaped += "&amp;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&#39;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

// A value as one query parameter: everything but the unreserved characters
// of a URI is percent-encoded, so that a "&", "#" or blank in a name stays
// part of the name the statistics page is asked for.
std::string PercentEncoded(const char* value) {
    std::string encoded;
    for (const char* p = value; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            encoded += static_cast<char>(c);
        } else {
            AppendPrintf(encoded, "%%%02X", c);
        }
    }
    return encoded;
}

// "page?q=value" with the value percent-encoded; the bare page without a
// value. Escaped for the page, as every value written into it.
std::string StatsAddress(const char* page, const char* value) {
    std::string address = page;
    if (value != nullptr) AppendPrintf(address, "?q=%s", PercentEncoded(value).c_str());
    return HtmlEscaped(address);
}

std::string PageText(const char* username, const char* team) {
    std::string text =
        "<html>\n<head><title>My Quorvel Page</title></head>\n<body bgcolor=#FFFFFF "
        "text=#663333 link=#CC3300 vlink=#CC3300>\n<div align=\"center\">\n<font face=\"Book "
        "Antiqua\", \"Times\">\n<h1><b>My  Quorvel  Home</b></h1>\n</font>\n</div>\n<hr>\n<font "
        "size=+1>\n";
    text += "<p><u>Your information</u><br>\n";
    const std::string shown_user = HtmlEscaped(username != nullptr ? username : "unknown");
    const std::string shown_team = HtmlEscaped(team != nullptr ? team : "unknown");
    AppendPrintf(text, "User name: %s<br>\n", shown_user.c_str());
    AppendPrintf(text, "Team number: %s<br>\n", shown_team.c_str());
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
    // The deployment chooses these addresses; they are escaped like any value.
    const std::string home = HtmlEscaped(kHomePage);
    const std::string descriptions = HtmlEscaped(kDescriptionsPage);
    const std::string download = HtmlEscaped(kDownloadPage);
    AppendPrintf(text, "Home page: <a href=\"%s\"> %s</a><br>\n", home.c_str(), home.c_str());
    AppendPrintf(text, "Current project descriptions: <a href=\"%s\">%s</a><br>\n",
           descriptions.c_str(), descriptions.c_str());
    AppendPrintf(text, "Downloads: <a href=\"%s\"> %s</a><br>\n", download.c_str(), download.c_str());
    AppendPrintf(text,
           "<p>\n(If any of the above links appear broken, please visit our <a "
           "href=\"%s\">home page</a> for current links or an upgraded client program.)<br>\n",
           home.c_str());
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
