// Language selection: which language-specific content file goes with the
// loaded content, from "language.cfg" or the user's locale, and the
// "locale.txt" record of the locale identifiers.
#pragma once

#include <cstdint>
#include <string>

class OvDatabase;
class OvDbRenderer;

// Windows-style locale identifiers (primary language in bits 0-9,
// sub-language in bits 10-15), as content expects them.
uint32_t OvLcidFromLocaleName(const char* name);  // "ja_JP.UTF-8" -> 0x411
// The user's locale: LC_ALL, else LC_MESSAGES, else LANG.
uint32_t OvUserDefaultLcid();
// The system's locale: LANG in /etc/default/locale or /etc/locale.conf.
uint32_t OvSystemDefaultLcid();

// The language code for a user locale identifier ("ja", "zh-TW", "en", ...).
const char* OvLanguageCodeForLcid(uint32_t lcid);

// The language file beside a content file: "stage.orv" with "ja" gives
// "stage_ja.orv". Empty when the path is too short to carry an extension.
std::string OvLanguageFileName(const std::string& contentPath, const std::string& code);

struct LanguageEnvironment {
  std::string programFolder;  // where "locale.txt" and "language.cfg" live
  uint32_t userLcid = 0x409;
  uint32_t systemLcid = 0x409;
};

// Decides the language for `contentPath`, writes "locale.txt" and, when the
// language file exists, loads it into a new database given `renderer`. The
// code chosen goes to `codeOut` when given. Returns the database or null.
OvDatabase* SelectLanguage(const char* contentPath, const LanguageEnvironment& env, OvDbRenderer* renderer,
                           std::string* codeOut = nullptr);
