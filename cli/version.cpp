// The program's version, from the build (the project version in CMakeLists.txt).

#include "cli/command.h"

namespace talkgate::cli {

std::string_view programVersion() {
  return TALKGATECTL_VERSION;
}

}  // namespace talkgate::cli
