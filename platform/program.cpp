#include "platform/program.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <unistd.h>

namespace platform {
namespace {

std::mutex g_mutex;
std::string g_override;

}  // namespace

std::string LinkTarget(const std::string& link) {
  // Read into a string that grows, rather than a PATH_MAX buffer on the
  // stack, which would take every start-up a page deeper into the stack.
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link.c_str(), target.data(), target.size() - 1);
    if (n <= 0) return {};
    if (static_cast<std::size_t>(n) < target.size() - 1 || target.size() >= PATH_MAX) {
      target.resize(static_cast<std::size_t>(n));
      return target;
    }
    target.resize(std::min<std::size_t>(target.size() * 2, PATH_MAX));
  }
}

std::string ProgramPath() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  return LinkTarget("/proc/self/exe");
}

std::string ProgramDir() {
  const std::string path = ProgramPath();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string ProgramName() {
  const std::string path = ProgramPath();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SetProgramPathForTesting(const std::string& path) {
  std::lock_guard lock(g_mutex);
  g_override = path;
}

}  // namespace platform
