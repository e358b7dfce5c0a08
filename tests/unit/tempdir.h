// A fresh working directory for one test, removed afterwards.
#pragma once

#include <filesystem>
#include <random>
#include <string>

struct TempWorkDir {
  std::filesystem::path path;
  std::filesystem::path previous;
  TempWorkDir() {
    previous = std::filesystem::current_path();
    // A new name until one is free: creating the folder is what claims it.
    std::random_device random;
    do path = std::filesystem::temp_directory_path() / ("ferrin-unit." + std::to_string(random()));
    while (!std::filesystem::create_directory(path));
    std::filesystem::current_path(path);
  }
  ~TempWorkDir() {
    std::filesystem::current_path(previous);
    // A test may leave folders without write permission: give it back first.
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow,
                                   ignored);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path, ignored);
  }
};
