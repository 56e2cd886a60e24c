#pragma once

// Checks a written file with xmllint, an XML parser of another project, so that a file
// counts as well formed only when a parser other than ours agrees. xmllint comes with the
// Debian package libxml2-utils (scripts/packages.txt installs it); without it the check
// fails and says so, rather than passing unchecked.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace scene_test {

inline testing::AssertionResult PassesXmllint(const std::string& path) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
        return testing::AssertionFailure()
               << "xmllint is not installed (Debian package libxml2-utils)";
    }
    const std::string command = "xmllint --noout '" + path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return testing::AssertionFailure() << "cannot run " << command;
    std::string output;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
        output += buffer.data();
    }
    const int status = pclose(pipe);
    if (status != 0 || !output.empty()) {
        return testing::AssertionFailure() << "xmllint on " << path << ":\n" << output;
    }
    return testing::AssertionSuccess();
}

}  // namespace scene_test
