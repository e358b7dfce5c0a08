// A fresh working directory for one test, removed afterwards.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

struct TempWorkDir {
  std::string path;
  std::string previous;
  TempWorkDir() {
    char pattern[] = "/tmp/ferrin-unit.XXXXXX";
    path = mkdtemp(pattern);
    char cwd[4096];
    previous = getcwd(cwd, sizeof cwd) ? cwd : "/";
    if (chdir(path.c_str()) != 0) std::abort();
  }
  ~TempWorkDir() {
    if (chdir(previous.c_str()) != 0) std::abort();
    std::string command = "chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) std::abort();
  }
};
