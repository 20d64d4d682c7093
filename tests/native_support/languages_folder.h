// A languages folder built for one test under the temporary folder, removed afterwards. Its name
// holds non-ASCII letters so that every path the translator builds goes through UTF-8 handling.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace vistrel::testing {

inline std::filesystem::path Utf8Path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// tests/data/i18n/catalogue.po compiled by the build.
inline std::string TestCatalogueBytes() {
  return ReadFile(std::filesystem::path(VISTREL_TEST_MO_DIR) / "catalogue.mo");
}

class LanguagesFolder {
 public:
  LanguagesFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            Utf8Path("vistrel-\xD1\x8F\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB8-" + std::to_string(std::random_device()()) +
                     "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  LanguagesFolder(const LanguagesFolder&) = delete;
  LanguagesFolder& operator=(const LanguagesFolder&) = delete;
  ~LanguagesFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& path() const { return path_; }
  std::string utf8() const {
    const std::u8string text = path_.u8string();
    return std::string(text.begin(), text.end());
  }

  // <code>/language.ini with the given text.
  void AddIni(std::string_view code, const std::string& text) const {
    WriteFile(path_ / Utf8Path(code) / "language.ini", text);
  }
  // <code>/<category>/<domain>.mo with the given bytes.
  void AddCatalogue(std::string_view code, const std::string& bytes, std::string_view category = "LC_MESSAGES",
                    std::string_view domain = "messages") const {
    WriteFile(path_ / Utf8Path(code) / Utf8Path(category) / Utf8Path(std::string(domain) + ".mo"), bytes);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace vistrel::testing
