// Captures what the code under test writes to standard output.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "common/temp_dir.h"

namespace qrvtest {

class ConsoleCapture {
public:
    ConsoleCapture() {
        fflush(stdout);
        char name[] = "/tmp/qrvconsole.XXXXXX";
        fd_ = mkstemp(name);
        path_ = name;
        saved_ = dup(1);
        dup2(fd_, 1);
    }
    ~ConsoleCapture() { Stop(); }

    // Ends the capture (once) and returns everything written.
    std::string Stop() {
        if (saved_ >= 0) {
            fflush(stdout);
            dup2(saved_, 1);
            close(saved_);
            close(fd_);
            saved_ = -1;
            text_ = ReadFileText(path_);
            unlink(path_.c_str());
        }
        return text_;
    }

private:
    int fd_ = -1;
    int saved_ = -1;
    std::string path_;
    std::string text_;
};

}  // namespace qrvtest
