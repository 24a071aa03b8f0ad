#include "core/result.h"

namespace vellumo {

int exit_code(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Usage:
      return 2;
    case ErrorKind::NotRunning:
      return 3;
    case ErrorKind::Failed:
      return 1;
  }
  return 1;
}

}  // namespace vellumo
