#include "platform/status.h"

#include <cerrno>

namespace kavelo::platform {

long StatusFromErrno(int error, long otherwise) {
  return error == EACCES || error == EPERM || error == EROFS ? kErrorAccessDenied : otherwise;
}

}  // namespace kavelo::platform
