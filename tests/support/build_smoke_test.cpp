#include "build_options.h"

#include <gtest/gtest.h>

#include <string>

// The project addresses are build options; the banner and the help line
// print them, so an empty one would be a broken deployment.
TEST(BuildOptions, AddressesAreSet) {
    EXPECT_FALSE(std::string(QRV_WEB_ADDRESS).empty());
    EXPECT_FALSE(std::string(QRV_HELP_ADDRESS).empty());
    EXPECT_FALSE(std::string(QRV_ASSIGN_HOST_PRIMARY).empty());
}
