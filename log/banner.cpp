#include "log/banner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "build_options.h"
#include "version.h"
#include "log/log.h"

namespace {

constexpr const char* kRule =
    "###############################################################################\n";
static_assert(sizeof("###############################################################################") - 1 ==
              kBannerWidth);

}  // namespace

const char* EditionLabel(uint32_t edition_code) {
    switch (edition_code) {
        case 1: return " Windows Graphical Edition ";
        case 2: return " Windows Console Edition ";
        case 3: return " Windows Screensaver Edition ";
        case 4: return " Windows Background Edition ";
        case 5: return " Partner Edition ";
        case 6: return " Linux Console Edition ";
        case 7: return " Mac OS X Graphical Edition ";
        case 8: return " Mac OS X Console Edition ";
        default: return "";
    }
}

void PrintBanner(uint32_t edition_code) {
    // The label is laid over the frame just after its first "#", so the
    // line keeps its width whatever the edition.
    char frame[kBannerWidth + 3];
    memset(frame, '#', sizeof frame);
    frame[0] = '\n';
    const char* label = EditionLabel(edition_code);
    memcpy(frame + 2, label, std::min(strlen(label), static_cast<size_t>(kBannerWidth - 1)));
    frame[kBannerWidth + 1] = '\n';
    frame[kBannerWidth + 2] = '\0';

    LogWrite("%s", frame);
    LogWrite("%s", kRule);
    LogWrite("\n");
    LogWrite("                       Quorvel Client Version %s\n", kClientVersion);
    LogWrite("\n");
    LogWrite("                       %s\n", QRV_WEB_ADDRESS);
    LogWrite("                     email:%s\n", QRV_HELP_ADDRESS);
    LogWrite("\n");
    LogWrite("%s", kRule);
    LogWrite("%s", kRule);
    LogWrite("\n");
}
