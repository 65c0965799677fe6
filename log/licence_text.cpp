#include <cstdio>

#include "log/banner.h"

namespace {

// Five pieces, printed one after the other; every line fits in 70 columns.
const char* const kLicence[kLicencePieces] = {
    "\nQuorvel Client Licence\n"
    "======================\n\n"
    "The Quorvel client is offered free of charge to volunteers who wish\n"
    "to lend the spare processing time of their computers to the Quorvel\n"
    "project's research in molecular simulation.\n\n",

    "1. Use. You may install and run this client on any computer that you\n"
    "   own, or that you are allowed to use for this purpose by its owner.\n"
    "   You may copy it and pass it on to others, provided that you pass\n"
    "   it on whole, unchanged and with this notice.\n\n",

    "2. What the client does. It fetches work units from the project's\n"
    "   servers, runs the computation cores on them at the lowest priority\n"
    "   and returns the results. The results, the name and team you choose\n"
    "   and a few facts about your machine become part of the project's\n"
    "   public statistics and research data. The client talks only to\n"
    "   the project's servers, and it never reads or sends your own files.\n\n",

    "3. No warranty. The client and the cores are provided as they are,\n"
    "   without warranty of any kind. The project is not liable for any\n"
    "   damage, loss of data or cost that may arise from their use. You\n"
    "   run them at your own risk and may stop them at any time; a unit\n"
    "   that was interrupted is resumed when the client starts again, or\n"
    "   is handed to another volunteer when its deadline has passed.\n\n",

    "4. Results. Work units and their results belong to the research of\n"
    "   the project. Please do not alter them, and do not return results\n"
    "   that were not computed by an unmodified core.\n\n"
    "By running the client you accept these terms. Thank you for helping\n"
    "the Quorvel project; questions are welcome at its help address.\n\n",
};

}  // namespace

const char* LicencePiece(int index) {
    return index >= 0 && index < kLicencePieces ? kLicence[index] : "";
}

void PrintLicence() {
    printf("%s%s%s%s%s", kLicence[0], kLicence[1], kLicence[2], kLicence[3], kLicence[4]);
    fflush(stdout);
}
