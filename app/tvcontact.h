// Where users reach the Tarvio team: the support mailbox, the page with the newest release and
// the web site. Every window and message that names one of them takes it from here.
#pragma once

inline constexpr const char* TvSupportEmail = "support@tarvio.example.org";
inline constexpr const char* TvDownloadPage = "https://tarvio.example.org/download/";
inline constexpr const char* TvWebSite = "https://tarvio.example.org/";
