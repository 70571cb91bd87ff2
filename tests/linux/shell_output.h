// For the native tests: what a shell command prints on its standard output.
#pragma once

#include <stdio.h>

#include <string>

namespace nativetest {

inline std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t count;
        while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
        pclose(pipe);
    }
    return output;
}

}  // namespace nativetest
