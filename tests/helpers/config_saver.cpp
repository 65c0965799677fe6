// Saves a configuration object again and again, for the test that kills a
// process in the middle of a save.
//
//   config_saver PATH   loads PATH (it must be whole if it exists), then
//                       rewrites it with counter=N, N+1, ... after the
//                       loaded one, printing "saved N" after each save.
// It stops by itself after kMaxSaves, so a failing test never leaves it
// running for long.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config_file.h"
#include "support/file.h"
#include "support/number_reader.h"

namespace {

constexpr uint32_t kMaxSaves = 20000;

// The same filler on every save: a save cut short shows as a missing or
// shortened line.
void Fill(v3Config* config) {
    const std::string filler(60, 'f');
    for (int i = 0; i < 40; ++i) {
        v3ConfigSet(config, "filler", ("line" + std::to_string(i)).c_str(), filler.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    v3Config config{};
    uint32_t counter = 0;
    const int rc = v3ConfigLoad(&config, argv[1]);
    if (rc == 0) {
        const char* text = v3ConfigGet(&config, "settings", "counter");
        if (text == nullptr || v3ReadNumber(&counter, sizeof counter, 0, text, 10, 1) != 0) {
            printf("damaged\n");
            return 3;
        }
    } else if (rc != kFileErrNotFound) {
        printf("unreadable %d\n", rc);
        return 3;
    }
    Fill(&config);
    for (uint32_t i = 0; i < kMaxSaves; ++i) {
        ++counter;
        v3ConfigSet(&config, "settings", "counter", std::to_string(counter).c_str());
        if (v3ConfigSave(&config, argv[1]) != 0) {
            printf("failed\n");
            return 4;
        }
        printf("saved %u\n", counter);
        fflush(stdout);
    }
    return 0;
}
