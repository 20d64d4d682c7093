#include "i18n/translator.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "core/log.h"
#include "core/text.h"

namespace vistrel {
namespace {

std::unique_ptr<Translator> g_owner;  // the instance, kept until exit
std::atomic<Translator*> g_instance{nullptr};
std::once_flag g_initOnce;

// Paths are built from UTF-8 through char8_t so that non-ASCII names survive on Windows too,
// where a narrow path would be taken as the ANSI code page.
std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::filesystem::path PathFromWide(std::wstring_view wide) { return PathFromUtf8(WideToUtf8(wide)); }

std::wstring PathToWide(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return Utf8ToWide(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

bool IsEnglishCode(const std::wstring& code) {
  return code == L"en" || code == L"en-US" || code == L"en_US";
}

}  // namespace

LanguageInfo BuiltInEnglish() { return {L"English (Default)", L"en", false, L"Orvanta", L""}; }

void Translator::init(const std::string& basePathUtf8, const std::string& category,
                      const std::string& domain) {
  std::call_once(g_initOnce, [&] {
    g_owner = std::make_unique<Translator>(basePathUtf8, category, domain);
    g_instance.store(g_owner.get(), std::memory_order_release);
  });
}

Translator& Translator::instance() {
  Translator* translator = g_instance.load(std::memory_order_acquire);
  if (!translator) throw std::runtime_error("Translator not initialized. Call Translator::init() first.");
  return *translator;
}

bool Translator::initialized() { return g_instance.load(std::memory_order_acquire) != nullptr; }

Translator::Translator(const std::string& basePathUtf8, const std::string& category,
                       const std::string& domain)
    : basePath_(PathFromUtf8(basePathUtf8)),
      category_(category.empty() ? "LC_MESSAGES" : category),
      domain_(domain.empty() ? "messages" : domain) {}

std::filesystem::path Translator::cataloguePath(const std::wstring& code, const std::string& category,
                                                const std::string& domain) const {
  return basePath_ / PathFromWide(code) / PathFromUtf8(category.empty() ? category_ : category) /
         PathFromUtf8((domain.empty() ? domain_ : domain) + ".mo");
}

void Translator::setLanguage(const std::wstring& code, const std::string& category,
                             const std::string& domain) {
  // Everything is read before the lock is taken, so translations on other threads wait only for
  // the swap, never for the disk.
  std::wstring language;
  std::optional<MoCatalogue> catalogue;
  LanguageInfo info;
  if (!code.empty() && code != L"en") {
    const std::filesystem::path path = cataloguePath(code, category, domain);
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
      try {
        catalogue = ReadMoFile(path);
        info = ActiveLanguageInfo(code, ReadLanguageIni(basePath_ / PathFromWide(code) / "language.ini"));
        language = code;
      } catch (const std::exception& failure) {
        // A catalogue that cannot be read leaves the program in English, not stopped.
        LogMessage(L"Translator ERROR: the catalogue at " + PathToWide(path) + L" could not be read (" +
                   Utf8ToWide(failure.what()) + L"); texts stay in English.");
        catalogue.reset();
        info = LanguageInfo();
      }
    } else {
      LogMessage(L"Translator ERROR: .mo file NOT FOUND at: " + PathToWide(path));
    }
  }
  std::unique_lock lock(lock_);
  currentLanguage_ = std::move(language);
  catalogue_ = std::move(catalogue);
  info_ = std::move(info);
}

std::wstring Translator::translate(const std::wstring& msgid) const {
  std::shared_lock lock(lock_);
  if (catalogue_) {
    const auto found = catalogue_->find(msgid);
    if (found != catalogue_->end()) return found->second;
  }
  return msgid;
}

bool Translator::active() const { return !currentLanguage_.empty() && catalogue_.has_value(); }

std::wstring Translator::getLanguageName() const {
  std::shared_lock lock(lock_);
  if (!active()) return L"English";
  return info_.name.empty() ? currentLanguage_ : info_.name;
}

std::wstring Translator::getLanguageCode() const {
  std::shared_lock lock(lock_);
  if (!active()) return L"en";
  return info_.code.empty() ? currentLanguage_ : info_.code;
}

bool Translator::isRightToLeft() const {
  std::shared_lock lock(lock_);
  return active() && info_.rtl;
}

LanguageInfo Translator::getLanguageInfo() const {
  std::shared_lock lock(lock_);
  return info_;
}

std::vector<LanguageInfo> Translator::getAvailableLanguages() const {
  namespace fs = std::filesystem;
  std::vector<LanguageInfo> languages;
  std::error_code error;
  bool hasEnglish = false;
  if (fs::is_directory(basePath_, error)) {
    for (fs::directory_iterator it(basePath_, error), end; !error && it != end; it.increment(error)) {
      std::error_code entryError;
      if (!it->is_directory(entryError)) continue;
      const fs::path ini = it->path() / "language.ini";
      if (!fs::exists(ini, entryError)) continue;
      const auto values = ReadLanguageIni(ini);
      if (!values) continue;
      auto listed = ListedLanguageInfo(*values);
      if (!listed) continue;
      hasEnglish = hasEnglish || IsEnglishCode(listed->code);
      languages.push_back(std::move(*listed));
    }
  }
  if (!hasEnglish) languages.insert(languages.begin(), BuiltInEnglish());
  return languages;
}

}  // namespace vistrel
