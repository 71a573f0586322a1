// Captures what the runtime writes to its output while it lives (through a
// pipe; meant for short texts that fit the pipe's buffer).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "runtime/platform.h"

namespace vyr::test {

struct OutputCapture {
    int fds[2];
    int saved;
    OutputCapture() {
        EXPECT_EQ(pipe(fds), 0);
        saved = platform::output_fd();
        platform::set_output_fd(fds[1]);
    }
    // Restores the output and answers what was written.
    std::string take() {
        platform::set_output_fd(saved);
        close(fds[1]);
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        close(fds[0]);
        return out;
    }
};

}  // namespace vyr::test
