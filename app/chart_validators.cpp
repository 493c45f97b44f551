#include "app/chart_validators.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "app/workbook_path.h"
#include "http/cache_validators.h"
#include "http/http_engine.h"
#include "platform/fonts.h"
#include "platform/program.h"
#include "platform/sysutils.h"

const std::array<TChartField, 23> kChartFields = {{
    {"filename", "testdeutsch"},
    {"sheet", "1"},
    {"style", "0"},
    {"color", "10"},
    {"height", "250"},
    {"width", "400"},
    {"legend", "yes"},
    {"legendstyle", "value"},
    {"border", "no"},
    {"backcolor", ""},
    {"chartbacktopcolor", ""},
    {"chartbackbottomcolor", ""},
    {"number", ""},
    {"numbercolor", ""},
    {"marks", "yes"},
    {"marksstyle", "percent"},
    {"3D", "no"},
    {"3Dorthogonal", "yes"},
    {"3DRotation", ""},
    {"3DElevation", ""},
    {"3DZoom", ""},
    {"3DDepth", ""},
    {"format", "gif"},
}};

namespace {

std::int64_t Nanoseconds(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

std::int64_t Seconds(std::int64_t nanoseconds) {
  return nanoseconds >= 0 ? nanoseconds / 1000000000 : -((-nanoseconds + 999999999) / 1000000000);
}

void AddFile(TEntityTagBuilder& tag, const char* what, const TFileIdentity& file) {
  tag.Add(what, file.Path);
  tag.AddNumber("device", static_cast<std::int64_t>(file.Device));
  tag.AddNumber("inode", static_cast<std::int64_t>(file.Inode));
  tag.AddNumber("size", file.Size);
  tag.AddNumber("modified", file.ModifiedNs);
  tag.AddNumber("changed", file.ChangedNs);
}

// FNV-1a of a whole file, read in blocks; nothing when it cannot be read.
// Only the request's own upload files are hashed: their names are the
// /proc/self/fd links of the unlinked files the request holds open, so the
// link is followed.
std::optional<std::uint64_t> HashFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::uint64_t hash = kFnvOffset;
  std::string block(1 << 16, '\0');
  bool ok = true;
  while (true) {
    const ssize_t n = ::read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    hash = Fnv1a64(std::string_view(block.data(), static_cast<std::size_t>(n)), hash);
  }
  ::close(fd);
  return ok ? std::optional(hash) : std::nullopt;
}

// A request variable under its CGI name, else under the header's own name
// (WinCGI lists request headers so in its Extra Headers section).
std::string RequestHeader(const char* cgiName, const char* headerName) {
  std::string value = HttpServerVariable(cgiName);
  if (value.empty() || value == kNotAvailable) value = HttpServerVariable(headerName);
  return value == kNotAvailable ? std::string() : value;
}

// The running program's identity. When the program is the executable itself,
// the kernel's link to its image is asked: after an upgrade has replaced the
// file, a resident server still tags with the build it runs.
std::optional<TFileIdentity> ProgramIdentity() {
  const std::string path = platform::ProgramPath();
  char link[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", link, sizeof link);
  std::string running = n > 0 ? std::string(link, static_cast<std::size_t>(n)) : std::string();
  if (running.ends_with(" (deleted)")) running.resize(running.size() - 10);
  auto identity = IdentifyFile(running == path ? "/proc/self/exe" : path);
  if (identity) identity->Path = path;
  return identity;
}

std::string MaxAgeSetting() {
  std::string value = HttpServerVariable("GRAFOLIO_MAX_AGE");
  if (!value.empty() && value != kNotAvailable) return value;
  const char* process = std::getenv("GRAFOLIO_MAX_AGE");
  return process ? process : "";
}

}  // namespace

std::optional<TFileIdentity> IdentifyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  TFileIdentity file;
  file.Path = path;
  file.Device = st.st_dev;
  file.Inode = st.st_ino;
  file.Size = st.st_size;
  file.ModifiedNs = Nanoseconds(st.st_mtim);
  file.ChangedNs = Nanoseconds(st.st_ctim);
  return file;
}

TChartValidators ComposeChartValidators(const TFileIdentity& program, const std::optional<TFileIdentity>& font,
                                        const std::vector<std::string>& fieldValues, const TChartSource& source) {
  TEntityTagBuilder tag;
  AddFile(tag, "program", program);
  if (font) AddFile(tag, "font", *font);
  for (std::size_t i = 0; i < kChartFields.size(); ++i) {
    tag.Add(kChartFields[i].Name, i < fieldValues.size() ? fieldValues[i] : kChartFields[i].Default);
  }
  TChartValidators validators;
  validators.LastModified = Seconds(program.ModifiedNs);
  switch (source.kind) {
    case TChartSource::TestTable:
      tag.Add("source", "test table");
      break;
    case TChartSource::Workbook:
      AddFile(tag, "workbook", source.file);
      break;
    case TChartSource::Upload:
      // The temporary file's name and times differ on every upload; only
      // the bytes say what was charted.
      tag.AddNumber("upload size", source.file.Size);
      tag.AddNumber("upload hash", static_cast<std::int64_t>(source.contentHash));
      break;
  }
  if (source.kind != TChartSource::TestTable) {
    validators.LastModified = std::max(validators.LastModified, Seconds(source.file.ModifiedNs));
  }
  validators.ETag = tag.Tag();
  return validators;
}

std::optional<TChartValidators> RequestChartValidators(const std::string& programDir) {
  const auto program = ProgramIdentity();
  if (!program) return std::nullopt;
  std::vector<std::string> values;
  values.reserve(kChartFields.size());
  for (const auto& field : kChartFields) values.push_back(HttpFieldValue(field.Name, field.Default));

  TChartSource source;
  const std::string upload = HttpFieldValue("filename_FILENAME", "");
  const std::string& fileName = values[0];
  if (!upload.empty() && IsRequestTempFile(upload)) {
    const auto file = IdentifyFile(upload);
    const auto hash = file ? HashFile(upload) : std::nullopt;
    if (!hash) return std::nullopt;
    source.kind = TChartSource::Upload;
    source.file = *file;
    source.contentHash = *hash;
  } else if (fileName != "testdeutsch" && fileName != "testenglish") {
    const auto path = ResolveWorkbookPath(programDir, fileName);
    const auto file = path ? IdentifyFile(*path) : std::nullopt;
    if (!file) return std::nullopt;
    source.kind = TChartSource::Workbook;
    source.file = *file;
  }
  return ComposeChartValidators(*program, IdentifyFile(platform::FontPath("Arial", false, false)), values, source);
}

bool AnswerFromClientCache(const std::string& programDir) {
  const auto validators = RequestChartValidators(programDir);
  if (!validators) return false;
  HttpAddAnswerHeader("ETag", validators->ETag);
  HttpAddAnswerHeader("Last-Modified", FormatHttpDate(validators->LastModified));
  const std::string maxAge = MaxAgeSetting();
  if (const auto cacheControl = MaxAgeCacheControl(maxAge)) {
    HttpAddAnswerHeader("Cache-Control", *cacheControl);
  } else if (!maxAge.empty()) {
    WriteRequestLog("GRAFOLIO_MAX_AGE is not a number of seconds: '" + maxAge + "'");
  }
  const TConditionalAnswer answer = EvaluateConditional(
      UpperCase(HttpServerVariable("REQUEST METHOD")), RequestHeader("HTTP_IF_NONE_MATCH", "If-None-Match"),
      RequestHeader("HTTP_IF_MODIFIED_SINCE", "If-Modified-Since"), validators->ETag, validators->LastModified,
      static_cast<std::int64_t>(std::time(nullptr)));
  if (answer != TConditionalAnswer::NotModified) return false;
  if (auto* engine = CurrentHttpEngine()) engine->WriteHeaderOnlyAnswer("304 Not Modified");
  return true;
}
