// Runs the command-line tool as a user's shell does, in a folder of its own.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace travo::testing {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string out, err;
};

inline std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string shell_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A fresh working folder per test; the standard streams are kept beside it, so it holds only what the tool wrote.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() / ("travo-tool-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        fs::create_directories(dir_ = base_ / "work");
    }
    void TearDown() override { fs::remove_all(base_); }

    // Runs `command` with /bin/sh in the working folder, the tool's folder first on PATH.
    ToolRun shell(const std::string &command, const std::string &input = "") const {
        std::ofstream(base_ / "in", std::ios::binary) << input;
        const std::string cmd = "cd " + shell_quote(dir_) +
                                " && PATH=" + shell_quote(fs::path(TRAVO_CLI).parent_path()) + ":\"$PATH\" && (" +
                                command + ") <" + shell_quote(base_ / "in") + " >" + shell_quote(base_ / "out") +
                                " 2>" + shell_quote(base_ / "err");
        const int raw = std::system(cmd.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(base_ / "out"), slurp(base_ / "err")};
    }

    fs::path base_, dir_;
};

}  // namespace travo::testing
