// The maker's name and addresses: the About box, the tray's web items and the update service.
#pragma once

namespace vistrel::maker {

inline constexpr wchar_t kName[] = L"Orvanta";
inline constexpr wchar_t kWebsite[] = L"https://orvanta.com";
inline constexpr wchar_t kProductPage[] = L"https://orvanta.com/vistrel";
inline constexpr wchar_t kTelegram[] = L"https://t.me/orvanta";
inline constexpr wchar_t kFacebook[] = L"https://www.facebook.com/orvanta";
inline constexpr wchar_t kTwitter[] = L"https://x.com/orvanta";
inline constexpr wchar_t kYouTube[] = L"https://www.youtube.com/@orvanta";
inline constexpr wchar_t kGitHub[] = L"https://github.com/orvanta";
inline constexpr wchar_t kContact[] = L"https://orvanta.com/contact";
inline constexpr wchar_t kUpdateHost[] = L"orvanta.com";

}  // namespace vistrel::maker
