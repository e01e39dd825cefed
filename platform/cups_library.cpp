// libcups is loaded at the first CUPS call instead of with every program:
// it brings some thirty libraries (TLS, Kerberos, Avahi, D-Bus) whose loading
// took about 10 ms of each start of orlendi and the print control, also
// when the folder spooler is used.  Each function below has the signature
// of the CUPS header and forwards to the library's own, looked up once.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <cups/cups.h>
#include <cups/pwg.h>

namespace {

// The library's function NAME.  A missing libcups (a dependency of every
// package of the system) is a broken installation: the program says so and
// ends.
void *CupsFunction(const char *name) {
  static void *library = nullptr;
  static std::once_flag once;
  std::call_once(once, [] { library = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL); });
  void *function = library != nullptr ? dlsym(library, name) : nullptr;
  if (function == nullptr) {
    std::fprintf(stderr, "libcups.so.2 does not provide %s: %s\n", name, dlerror());
    std::abort();
  }
  return function;
}

}  // namespace

// Every function forwards to the one it names in libcups.
#define KAVELO_CUPS_FORWARD(name, ...)                                             \
  static const auto real = reinterpret_cast<decltype(&name)>(CupsFunction(#name)); \
  return real(__VA_ARGS__)

extern "C" {
ipp_t *cupsDoFileRequest(http_t *http, ipp_t *request, const char *resource, const char *filename) {
  KAVELO_CUPS_FORWARD(cupsDoFileRequest, http, request, resource, filename);
}
ipp_t *cupsDoRequest(http_t *http, ipp_t *request, const char *resource) {
  KAVELO_CUPS_FORWARD(cupsDoRequest, http, request, resource);
}
http_encryption_t cupsEncryption(void) { KAVELO_CUPS_FORWARD(cupsEncryption); }
void cupsFreeDests(int num_dests, cups_dest_t *dests) {
  KAVELO_CUPS_FORWARD(cupsFreeDests, num_dests, dests);
}
cups_dest_t *cupsGetNamedDest(http_t *http, const char *name, const char *instance) {
  KAVELO_CUPS_FORWARD(cupsGetNamedDest, http, name, instance);
}
ipp_status_t cupsLastError(void) { KAVELO_CUPS_FORWARD(cupsLastError); }
const char *cupsServer(void) { KAVELO_CUPS_FORWARD(cupsServer); }
void cupsSetPasswordCB2(cups_password_cb2_t cb, void *user_data) {
  KAVELO_CUPS_FORWARD(cupsSetPasswordCB2, cb, user_data);
}
void cupsSetServer(const char *server) { KAVELO_CUPS_FORWARD(cupsSetServer, server); }
const char *cupsUser(void) { KAVELO_CUPS_FORWARD(cupsUser); }
void httpClose(http_t *http) { KAVELO_CUPS_FORWARD(httpClose, http); }
http_t *httpConnect2(const char *host, int port, http_addrlist_t *addrlist, int family,
                     http_encryption_t encryption, int blocking, int msec, int *cancel) {
  KAVELO_CUPS_FORWARD(httpConnect2, host, port, addrlist, family, encryption, blocking, msec,
                      cancel);
}
void httpSetTimeout(http_t *http, double timeout, http_timeout_cb_t cb, void *user_data) {
  KAVELO_CUPS_FORWARD(httpSetTimeout, http, timeout, cb, user_data);
}
ipp_attribute_t *ippAddInteger(ipp_t *ipp, ipp_tag_t group, ipp_tag_t value_tag, const char *name,
                               int value) {
  KAVELO_CUPS_FORWARD(ippAddInteger, ipp, group, value_tag, name, value);
}
ipp_attribute_t *ippAddString(ipp_t *ipp, ipp_tag_t group, ipp_tag_t value_tag, const char *name,
                              const char *language, const char *value) {
  KAVELO_CUPS_FORWARD(ippAddString, ipp, group, value_tag, name, language, value);
}
ipp_attribute_t *ippAddStrings(ipp_t *ipp, ipp_tag_t group, ipp_tag_t value_tag, const char *name,
                               int num_values, const char *language, const char *const *values) {
  KAVELO_CUPS_FORWARD(ippAddStrings, ipp, group, value_tag, name, num_values, language, values);
}
void ippDelete(ipp_t *ipp) { KAVELO_CUPS_FORWARD(ippDelete, ipp); }
ipp_attribute_t *ippFindAttribute(ipp_t *ipp, const char *name, ipp_tag_t value_tag) {
  KAVELO_CUPS_FORWARD(ippFindAttribute, ipp, name, value_tag);
}
ipp_attribute_t *ippFirstAttribute(ipp_t *ipp) { KAVELO_CUPS_FORWARD(ippFirstAttribute, ipp); }
ipp_t *ippGetCollection(ipp_attribute_t *attr, int element) {
  KAVELO_CUPS_FORWARD(ippGetCollection, attr, element);
}
int ippGetCount(ipp_attribute_t *attr) { KAVELO_CUPS_FORWARD(ippGetCount, attr); }
ipp_tag_t ippGetGroupTag(ipp_attribute_t *attr) { KAVELO_CUPS_FORWARD(ippGetGroupTag, attr); }
int ippGetInteger(ipp_attribute_t *attr, int element) {
  KAVELO_CUPS_FORWARD(ippGetInteger, attr, element);
}
const char *ippGetName(ipp_attribute_t *attr) { KAVELO_CUPS_FORWARD(ippGetName, attr); }
int ippGetResolution(ipp_attribute_t *attr, int element, int *yres, ipp_res_t *units) {
  KAVELO_CUPS_FORWARD(ippGetResolution, attr, element, yres, units);
}
ipp_status_t ippGetStatusCode(ipp_t *ipp) { KAVELO_CUPS_FORWARD(ippGetStatusCode, ipp); }
const char *ippGetString(ipp_attribute_t *attr, int element, const char **language) {
  KAVELO_CUPS_FORWARD(ippGetString, attr, element, language);
}
ipp_t *ippNewRequest(ipp_op_t op) { KAVELO_CUPS_FORWARD(ippNewRequest, op); }
ipp_attribute_t *ippNextAttribute(ipp_t *ipp) { KAVELO_CUPS_FORWARD(ippNextAttribute, ipp); }
int ippPort(void) { KAVELO_CUPS_FORWARD(ippPort); }
const char *cupsLastErrorString(void) { KAVELO_CUPS_FORWARD(cupsLastErrorString); }
void cupsSetUser(const char *user) { KAVELO_CUPS_FORWARD(cupsSetUser, user); }
ipp_attribute_t *ippAddBoolean(ipp_t *ipp, ipp_tag_t group, const char *name, char value) {
  KAVELO_CUPS_FORWARD(ippAddBoolean, ipp, group, name, value);
}
ipp_attribute_t *ippCopyAttribute(ipp_t *dst, ipp_attribute_t *attr, int quickcopy) {
  KAVELO_CUPS_FORWARD(ippCopyAttribute, dst, attr, quickcopy);
}
ipp_t *ippNew(void) { KAVELO_CUPS_FORWARD(ippNew); }
http_uri_status_t httpAssembleURI(http_uri_coding_t encoding, char *uri, int urilen,
                                  const char *scheme, const char *username, const char *host,
                                  int port, const char *resource) {
  KAVELO_CUPS_FORWARD(httpAssembleURI, encoding, uri, urilen, scheme, username, host, port,
                      resource);
}

pwg_media_t *pwgMediaForPWG(const char *pwg) { KAVELO_CUPS_FORWARD(pwgMediaForPWG, pwg); }
pwg_media_t *pwgMediaForSize(int width, int length) {
  KAVELO_CUPS_FORWARD(pwgMediaForSize, width, length);
}

// The variadic form has no forwarding twin: the resource is formatted here
// and handed to httpAssembleURI.
http_uri_status_t httpAssembleURIf(http_uri_coding_t encoding, char *uri, int urilen,
                                   const char *scheme, const char *username, const char *host,
                                   int port, const char *resourcef, ...) {
  char resource[1024];
  va_list ap;
  va_start(ap, resourcef);
  int length = std::vsnprintf(resource, sizeof resource, resourcef, ap);
  va_end(ap);
  if (length < 0 || static_cast<size_t>(length) >= sizeof resource) {
    if (uri != nullptr && urilen > 0) *uri = '\0';
    return HTTP_URI_STATUS_BAD_RESOURCE;
  }
  return httpAssembleURI(encoding, uri, urilen, scheme, username, host, port, resource);
}

}  // extern "C"
