#include "language.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ov_database.h"
#include "ov_paths.h"
#include "ov_trace.h"

namespace {

struct LocaleId {
  const char* name;  // "ll_CC" or "ll"
  uint32_t lcid;
};

// Country-specific identifiers first; a bare language stands for its
// default sub-language.
const LocaleId kLocales[] = {
    {"ar_SA", 0x0401}, {"ar_EG", 0x0C01}, {"ar_AE", 0x3801}, {"zh_TW", 0x0404}, {"zh_CN", 0x0804}, {"zh_HK", 0x0C04},
    {"zh_SG", 0x1004}, {"zh_MO", 0x1404}, {"de_DE", 0x0407}, {"de_CH", 0x0807}, {"de_AT", 0x0C07}, {"en_US", 0x0409},
    {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409}, {"en_IE", 0x1809}, {"en_IN", 0x4009},
    {"es_ES", 0x0C0A}, {"es_MX", 0x080A}, {"es_AR", 0x2C0A}, {"fr_FR", 0x040C}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C},
    {"fr_CH", 0x100C}, {"it_IT", 0x0410}, {"it_CH", 0x0810}, {"ja_JP", 0x0411}, {"ko_KR", 0x0412}, {"nl_NL", 0x0413},
    {"nl_BE", 0x0813}, {"pl_PL", 0x0415}, {"pt_BR", 0x0416}, {"pt_PT", 0x0816}, {"ru_RU", 0x0419}, {"sv_SE", 0x041D},
    {"th_TH", 0x041E}, {"tr_TR", 0x041F}, {"hi_IN", 0x0439}, {"cs_CZ", 0x0405}, {"da_DK", 0x0406}, {"el_GR", 0x0408},
    {"fi_FI", 0x040B}, {"he_IL", 0x040D}, {"hu_HU", 0x040E}, {"nb_NO", 0x0414}, {"uk_UA", 0x0422}, {"vi_VN", 0x042A},
    {"ar", 0x0401},    {"zh", 0x0804},    {"de", 0x0407},    {"en", 0x0409},    {"es", 0x0C0A},    {"fr", 0x040C},
    {"it", 0x0410},    {"ja", 0x0411},    {"ko", 0x0412},    {"nl", 0x0413},    {"pl", 0x0415},    {"pt", 0x0416},
    {"ru", 0x0419},    {"sv", 0x041D},    {"th", 0x041E},    {"tr", 0x041F},    {"hi", 0x0439},    {"cs", 0x0405},
    {"da", 0x0406},    {"el", 0x0408},    {"fi", 0x040B},    {"he", 0x040D},    {"hu", 0x040E},    {"nb", 0x0414},
    {"uk", 0x0422},    {"vi", 0x042A},
};

// "ja_JP.UTF-8@euro" -> "ja_JP"; "C" and "POSIX" carry no language.
std::string LocaleKey(const char* name) {
  std::string key;
  for (const char* p = name ? name : ""; *p && *p != '.' && *p != '@'; ++p) key.push_back(*p);
  if (key == "C" || key == "POSIX") key.clear();
  return key;
}

uint32_t LookUp(const std::string& key) {
  for (const LocaleId& l : kLocales)
    if (key == l.name) return l.lcid;
  return 0;
}

const char* NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

// The LANG= line of a shell-style locale file, without quotes.
std::string LangFromFile(const char* path) {
  FILE* f = std::fopen(path, "r");
  if (!f) return {};
  char line[256];
  std::string value;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "LANG=", 5) != 0) continue;
    for (const char* p = line + 5; *p && *p != '\n' && *p != '\r'; ++p)
      if (*p != '"' && *p != '\'') value.push_back(*p);
    break;
  }
  std::fclose(f);
  return value;
}

std::string Join(const std::string& folder, const char* name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

uint32_t OvLcidFromLocaleName(const char* name) {
  std::string key = LocaleKey(name);
  if (key.empty()) return 0x0409;
  if (uint32_t id = LookUp(key)) return id;
  // An unknown country still tells the language.
  size_t underscore = key.find('_');
  if (underscore != std::string::npos)
    if (uint32_t id = LookUp(key.substr(0, underscore))) return id;
  return 0x0409;
}

uint32_t OvUserDefaultLcid() {
  const char* name = NonEmptyEnv("LC_ALL");
  if (!name) name = NonEmptyEnv("LC_MESSAGES");
  if (!name) name = NonEmptyEnv("LANG");
  return OvLcidFromLocaleName(name);
}

uint32_t OvSystemDefaultLcid() {
  std::string lang = LangFromFile("/etc/default/locale");
  if (lang.empty()) lang = LangFromFile("/etc/locale.conf");
  return OvLcidFromLocaleName(lang.c_str());
}

const char* OvLanguageCodeForLcid(uint32_t lcid) {
  const uint32_t primary = lcid & 0x3FF;
  const uint32_t sub = (lcid >> 10) & 0x3F;
  switch (primary) {
    case 1: return "ar";
    case 4: return (sub == 1 || sub == 3) ? "zh-TW" : "zh-CN";
    case 7: return "de";
    case 10: return "es";
    case 12: return "fr";
    case 16: return "it";
    case 17: return "ja";
    case 18: return "ko";
    case 22: return "pt";
    case 25: return "ru";
    case 30: return "th";
    case 57: return "hi";
    default: return "en";
  }
}

std::string OvLanguageFileName(const std::string& contentPath, const std::string& code) {
  if (contentPath.size() <= 3) return {};
  const size_t cut = contentPath.size() - 4;
  return contentPath.substr(0, cut) + "_" + code + contentPath.substr(cut);
}

OvDatabase* SelectLanguage(const char* contentPath, const LanguageEnvironment& env, OvDbRenderer* renderer,
                           std::string* codeOut) {
  // Diagnostic only: a folder that cannot be written loses nothing else. An
  // installed copy leaves its program folder as installed.
  FILE* record = FileExists(Join(env.programFolder, "installed").c_str())
                     ? nullptr
                     : std::fopen(Join(env.programFolder, "locale.txt").c_str(), "w");
  if (record) std::fprintf(record, "%x, %x\n", env.userLcid, env.systemLcid);

  std::string code;
  if (FILE* cfg = std::fopen(Join(env.programFolder, "language.cfg").c_str(), "r")) {
    char line[64] = {};
    if (std::fgets(line, sizeof line, cfg)) {
      line[8] = 0;  // codes are at most 8 characters
      size_t n = std::strcspn(line, "\r\n");
      code.assign(line, n);
    }
    std::fclose(cfg);
  }
  // The code becomes part of a file name: a "/" or ".." would reach outside
  // the content's folder.
  const bool plain =
      std::all_of(code.begin(), code.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
  if (!plain) {
    Trace(("language.cfg: the code \"" + code +
           "\" holds characters other than letters, digits, - and _; "
           "using the system language\n")
              .c_str());
    code.clear();
  }
  if (code.empty()) code = OvLanguageCodeForLcid(env.userLcid);
  if (codeOut) *codeOut = code;

  OvDatabase* localised = nullptr;
  const std::string file = OvLanguageFileName(contentPath ? contentPath : "", code);
  if (!file.empty() && FileExists(file.c_str())) {
    localised = OvDatabase::Create();
    if (localised) {
      localised->SetRenderer(renderer);
      localised->Load(file.c_str());
      if (localised->FindClumpRecordIndex(code.c_str()) < 0) {
        char message[128];
        std::snprintf(message, sizeof message, "The language file and content may be not matched! -- %s\n",
                      code.c_str());
        Trace(message);
        if (record) std::fputs(message, record);
      }
    }
  }
  if (record) std::fclose(record);
  return localised;
}
