// The parts of the OS facts with no system call in them, shared by every
// backend: the os-release reader and the locale-name table.

#include "platform/os_info.h"

#include <sstream>

namespace platform {
namespace {

struct LocaleId {
  const char* name;  // "ll" or "ll_TT"
  uint16_t id;
};

// POSIX locale names → Windows language ids. A bare language gives the id
// of the country where Windows files it first.
constexpr LocaleId kLocaleIds[] = {
    {"ar", 0x0401},    {"ar_SA", 0x0401}, {"ar_IQ", 0x0801}, {"ar_EG", 0x0c01}, {"ar_LY", 0x1001},
    {"ar_DZ", 0x1401}, {"ar_MA", 0x1801}, {"ar_TN", 0x1c01}, {"ar_OM", 0x2001}, {"ar_YE", 0x2401},
    {"ar_SY", 0x2801}, {"ar_JO", 0x2c01}, {"ar_LB", 0x3001}, {"ar_KW", 0x3401}, {"ar_AE", 0x3801},
    {"ar_BH", 0x3c01}, {"ar_QA", 0x4001}, {"bg", 0x0402},    {"ca", 0x0403},    {"zh", 0x0804},
    {"zh_TW", 0x0404}, {"zh_CN", 0x0804}, {"zh_HK", 0x0c04}, {"zh_SG", 0x1004}, {"zh_MO", 0x1404},
    {"cs", 0x0405},    {"da", 0x0406},    {"de", 0x0407},    {"de_DE", 0x0407}, {"de_CH", 0x0807},
    {"de_AT", 0x0c07}, {"de_LU", 0x1007}, {"de_LI", 0x1407}, {"el", 0x0408},    {"en", 0x0409},
    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0c09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409},
    {"en_IE", 0x1809}, {"en_ZA", 0x1c09}, {"en_JM", 0x2009}, {"en_BZ", 0x2809}, {"en_TT", 0x2c09},
    {"en_ZW", 0x3009}, {"en_PH", 0x3409}, {"es", 0x0c0a},    {"es_ES", 0x0c0a}, {"es_MX", 0x080a},
    {"es_GT", 0x100a}, {"es_CR", 0x140a}, {"es_PA", 0x180a}, {"es_DO", 0x1c0a}, {"es_VE", 0x200a},
    {"es_CO", 0x240a}, {"es_PE", 0x280a}, {"es_AR", 0x2c0a}, {"es_EC", 0x300a}, {"es_CL", 0x340a},
    {"es_UY", 0x380a}, {"es_PY", 0x3c0a}, {"es_BO", 0x400a}, {"es_SV", 0x440a}, {"es_HN", 0x480a},
    {"es_NI", 0x4c0a}, {"es_PR", 0x500a}, {"fi", 0x040b},    {"fr", 0x040c},    {"fr_FR", 0x040c},
    {"fr_BE", 0x080c}, {"fr_CA", 0x0c0c}, {"fr_CH", 0x100c}, {"fr_LU", 0x140c}, {"fr_MC", 0x180c},
    {"he", 0x040d},    {"hu", 0x040e},    {"is", 0x040f},    {"it", 0x0410},    {"it_CH", 0x0810},
    {"ja", 0x0411},    {"ko", 0x0412},    {"nl", 0x0413},    {"nl_BE", 0x0813}, {"nb", 0x0414},
    {"no", 0x0414},    {"nn", 0x0814},    {"pl", 0x0415},    {"pt", 0x0416},    {"pt_BR", 0x0416},
    {"pt_PT", 0x0816}, {"ro", 0x0418},    {"ru", 0x0419},    {"hr", 0x041a},    {"sr", 0x0c1a},
    {"sk", 0x041b},    {"sq", 0x041c},    {"sv", 0x041d},    {"sv_FI", 0x081d}, {"th", 0x041e},
    {"tr", 0x041f},    {"ur", 0x0420},    {"ur_IN", 0x0820}, {"id", 0x0421},    {"uk", 0x0422},
    {"be", 0x0423},    {"sl", 0x0424},    {"et", 0x0425},    {"lv", 0x0426},    {"lt", 0x0427},
    {"fa", 0x0429},    {"vi", 0x042a},    {"hy", 0x042b},    {"az", 0x042c},    {"eu", 0x042d},
    {"mk", 0x042f},    {"af", 0x0436},    {"ka", 0x0437},    {"fo", 0x0438},    {"hi", 0x0439},
    {"ms", 0x043e},    {"ms_BN", 0x083e}, {"kk", 0x043f},    {"ky", 0x0440},    {"sw", 0x0441},
    {"uz", 0x0443},    {"tt", 0x0444},    {"bn", 0x0445},    {"pa", 0x0446},    {"gu", 0x0447},
    {"or", 0x0448},    {"ta", 0x0449},    {"te", 0x044a},    {"kn", 0x044b},    {"ml", 0x044c},
    {"as", 0x044d},    {"mr", 0x044e},    {"sa", 0x044f},    {"mn", 0x0450},    {"gl", 0x0456},
    {"kok", 0x0457},   {"syr", 0x045a},   {"dv", 0x0465},
};

std::string unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    const char quote = value.front();
    value = value.substr(1, value.size() - 2);
    if (quote == '"') {
      std::string out;
      for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        out += value[i];
      }
      return out;
    }
  }
  return value;
}

// "zh_CN.UTF-8@x" → "zh_CN"
std::string stripLocale(const std::string& locale) {
  const size_t end = locale.find_first_of(".@");
  return locale.substr(0, end);
}

}  // namespace

OsRelease parseOsRelease(const std::string& text) {
  OsRelease result;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos || line[0] == '#') continue;
    const std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (key == "PRETTY_NAME") result.prettyName = unquote(value);
    if (key == "VERSION_ID") result.versionId = unquote(value);
  }
  return result;
}

uint16_t languageIdOfLocale(const std::string& locale) {
  const std::string base = stripLocale(locale);
  const std::string language = base.substr(0, base.find('_'));
  for (const auto& e : kLocaleIds) {
    if (base == e.name) return e.id;
  }
  for (const auto& e : kLocaleIds) {
    if (language == e.name) return e.id;
  }
  return 0x0409;
}

std::string territoryOfLocale(const std::string& locale) {
  const std::string base = stripLocale(locale);
  const size_t underscore = base.find('_');
  return underscore == std::string::npos ? std::string() : base.substr(underscore + 1);
}

}  // namespace platform
