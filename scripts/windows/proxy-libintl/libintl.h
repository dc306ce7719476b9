/* Pass-through gettext for the static Windows builds of glib and pango:
 * every call returns the message it was given. Installed into the sysroot
 * because glib's public gi18n headers include it. */
#ifndef WEBSETUP_PASSTHROUGH_LIBINTL_H
#define WEBSETUP_PASSTHROUGH_LIBINTL_H

#include <locale.h>

/* The Microsoft C runtime has no LC_MESSAGES; glib passes it to setlocale
 * and dcgettext. Same value as GNU gettext's own Windows header. */
#ifndef LC_MESSAGES
#define LC_MESSAGES 1729
#endif

/* format_arg tells gcc that the result is the format string it was given,
 * so printf-style checks keep working through _() under glib's -Werror=format
 * flags. */
#if defined(__GNUC__)
#define WEBSETUP_INTL_FORMAT_ARG(n) __attribute__((format_arg(n)))
#else
#define WEBSETUP_INTL_FORMAT_ARG(n)
#endif

#ifdef __cplusplus
extern "C" {
#endif

WEBSETUP_INTL_FORMAT_ARG(1)
static inline char *gettext(const char *msgid) { return (char *)msgid; }

WEBSETUP_INTL_FORMAT_ARG(2)
static inline char *dgettext(const char *domain, const char *msgid)
{
  (void)domain;
  return (char *)msgid;
}

WEBSETUP_INTL_FORMAT_ARG(2)
static inline char *dcgettext(const char *domain, const char *msgid, int category)
{
  (void)domain;
  (void)category;
  return (char *)msgid;
}

WEBSETUP_INTL_FORMAT_ARG(1) WEBSETUP_INTL_FORMAT_ARG(2)
static inline char *ngettext(const char *msgid, const char *plural, unsigned long n)
{
  return (char *)(n == 1 ? msgid : plural);
}

WEBSETUP_INTL_FORMAT_ARG(2) WEBSETUP_INTL_FORMAT_ARG(3)
static inline char *dngettext(const char *domain, const char *msgid, const char *plural,
                              unsigned long n)
{
  (void)domain;
  return (char *)(n == 1 ? msgid : plural);
}

WEBSETUP_INTL_FORMAT_ARG(2) WEBSETUP_INTL_FORMAT_ARG(3)
static inline char *dcngettext(const char *domain, const char *msgid, const char *plural,
                               unsigned long n, int category)
{
  (void)domain;
  (void)category;
  return (char *)(n == 1 ? msgid : plural);
}

static inline char *textdomain(const char *domain)
{
  return (char *)(domain ? domain : "messages");
}

static inline char *bindtextdomain(const char *domain, const char *dir)
{
  (void)domain;
  return (char *)dir;
}

static inline char *bind_textdomain_codeset(const char *domain, const char *codeset)
{
  (void)domain;
  return (char *)codeset;
}

#ifdef __cplusplus
}
#endif

#endif
