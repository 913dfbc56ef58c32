#pragma once
// A fresh temporary folder for one test, removed with everything in it.

#include <filesystem>
#include <string>

namespace hx::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    // The path as text with a final "/".
    std::string folder() const { return m_path.string() + "/"; }

  private:
    std::filesystem::path m_path;
};

}  // namespace hx::test
