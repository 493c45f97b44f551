#include "platform/program.h"

#include <climits>
#include <mutex>
#include <unistd.h>

namespace platform {
namespace {

std::mutex g_mutex;
std::string g_override;

}  // namespace

std::string ProgramPath() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
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
