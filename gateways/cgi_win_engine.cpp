#include "gateways/cgi_win_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>

#include "http/http_fields.h"
#include "platform/sysutils.h"
#include "platform/work_file.h"

bool IsWinCgiStart(const TCgiIO& io) {
  const bool softwareSet = !ReadCgiEnvironment(io, "SERVER_SOFTWARE").empty();
  const bool winVersion = UpperCase(ReadCgiEnvironment(io, "CGI_VERSION")).find("WIN") != std::string::npos;
  return !softwareSet || winVersion;
}

TCGIWinEngine::TCGIWinEngine(const THttpEngineSettings& settings, bool serverStart, bool cgiAutoTerminate, TCgiIO io,
                             std::string iniPath)
    : THttpEngine(settings),
      serverStart_(serverStart),
      cgiAutoTerminate_(cgiAutoTerminate),
      io_(std::move(io)),
      iniPath_(std::move(iniPath)) {
  if (serverStart_) CGIMode = TCGIMode::ServerMode;
}

TCGIWinEngine::~TCGIWinEngine() { CloseFiles(); }

bool TCGIWinEngine::IsActive() { return IsWinCgiStart(io_); }

void TCGIWinEngine::Start() {
  if (!IsActive() || serverStart_ || iniPath_.empty()) return;
  if (!handOver_ || !handOver_(iniPath_)) {
    SetCurrentHttpEngine(this);
    RunRequestFile(iniPath_);
  }
  // A failed request returns to the caller, which ends with a failure status.
  if (cgiAutoTerminate_ && !failed_ && io_.Terminate) io_.Terminate();
}

void TCGIWinEngine::RunRequestFile(const std::string& iniPath) {
  iniPath_ = iniPath;
  ExecuteRequest();
}

void TCGIWinEngine::CloseFiles() {
  if (output_ >= 0) ::close(output_);
  if (input_ >= 0) ::close(input_);
  output_ = input_ = -1;
}

void TCGIWinEngine::ProcessRequest() {
  failed_ = false;
  try {
    ReadRequestFiles();
  } catch (...) {
    failed_ = true;
    throw;
  }
  if (output_ < 0) return;
  if (firstRequestPending_ && OnFirstExecRequest) {
    firstRequestPending_ = false;
    OnFirstExecRequest(*this);
  }
  if (OnExecRequest) OnExecRequest(*this);
  if (OnLastExecRequest && !serverStart_) OnLastExecRequest(*this);
}

void TCGIWinEngine::ReadRequestFiles() {
  CloseFiles();
  multipart_ = false;
  multipartContent_.clear();
  outputPath_.clear();
  ini_.reset();
  ini_ = std::make_unique<TCGIIniFile>(iniPath_);
  const std::string outputFile = ini_->ReadString("System", "Output File", "");
  if (outputFile.empty()) return;
  // The output file holds this one answer: a regular file of ours, never
  // the target of a link planted at its name, never a FIFO.
  std::string why;
  platform::UniqueFd output = platform::OpenWorkFile(outputFile, O_WRONLY | O_CREAT | O_TRUNC, 0644, why);
  if (!output) throw Exception("Cannot create WinCGI output file " + outputFile + ": " + why);
  output_ = output.release();
  outputPath_ = outputFile;
  const std::string contentFile = GetServerVariable("Content File");
  if (!contentFile.empty() &&
      UpperCase(GetServerVariable("CONTENT_TYPE")).find("MULTIPART/FORM-DATA;") != std::string::npos) {
    platform::UniqueFd input = platform::OpenRegularFile(contentFile, O_RDONLY, 0, why);
    if (!input) throw Exception("Cannot open WinCGI content file " + contentFile + ": " + why);
    input_ = input.release();
    multipartContent_ = ReadMultipartInput();
    multipart_ = true;
  }
}

void TCGIWinEngine::EndRequest() {
  THttpEngine::EndRequest();
  CloseFiles();
}

std::string TCGIWinEngine::GetServerVariable(std::string_view name) {
  if (!ini_) return {};
  std::string key = UpperCase(name);
  for (auto& ch : key) {
    if (ch == '_') ch = ' ';
  }
  if (key == "SCRIPT NAME") key = "EXECUTABLE PATH";
  for (const char* section : {"CGI", "SYSTEM", "EXTRA HEADERS", "ACCEPT"}) {
    if (ini_->ValueExists(section, key)) return ini_->ReadString(section, key, "");
  }
  return {};
}

std::string TCGIWinEngine::GetHttpCookie() {
  return ini_ ? ini_->ReadString("EXTRA HEADERS", "COOKIE", kNotAvailable) : std::string(kNotAvailable);
}

std::int32_t TCGIWinEngine::GetContentLength() {
  int value = 0;
  return TryStrToInt(GetServerVariable("Content Length"), value) ? value : 0;
}

bool TCGIWinEngine::ReadExternal(const std::string& spec, std::string& value) {
  // "path length": the length is the up to ten characters from the blank on.
  const auto blank = spec.find(' ');
  int length = -1;
  if (blank == std::string::npos || !TryStrToInt(spec.substr(blank, 10), length) || length < 0) {
    WriteRequestLog("Form External value refused: " + spec);
    return false;
  }
  const std::string path = spec.substr(0, blank);
  std::string why;
  const platform::UniqueFd file = platform::OpenRegularFile(path, O_RDONLY, 0, why);
  const int fd = file.get();
  struct stat st {};
  if (!file || ::fstat(fd, &st) != 0 || st.st_size < length ||
      static_cast<std::size_t>(length) > TCGIIniFile::kMaxSize) {
    WriteRequestLog("Form External value refused: " + spec);
    return false;
  }
  value.clear();
  value.reserve(static_cast<std::size_t>(length));
  char block[2048];
  while (value.size() < static_cast<std::size_t>(length)) {
    const std::size_t want = std::min(sizeof block, static_cast<std::size_t>(length) - value.size());
    const ssize_t n = ::read(fd, block, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    value.append(block, static_cast<std::size_t>(n));
  }
  return true;
}

bool TCGIWinEngine::FormValue(const std::string& name, std::string& value) {
  if (UpperCase(GetRequestMethod()) == "GET") {
    value = LookupField(GetQueryString(), name, kNotAvailable);
    return value != kNotAvailable;
  }
  for (const char* section : {"Form Literal", "Form File"}) {
    if (ini_ && ini_->ValueExists(section, name)) {
      value = ini_->ReadString(section, name, "");
      return true;
    }
  }
  if (ini_ && ini_->ValueExists("Form External", name)) {
    return ReadExternal(ini_->ReadString("Form External", name, ""), value);
  }
  return false;
}

std::string TCGIWinEngine::GetFieldValue(std::string_view name, std::string_view defaultValue) {
  if (multipart_) return LookupField(multipartContent_, name, defaultValue);
  if (UpperCase(GetRequestMethod()) == "GET") return LookupField(GetQueryString(), name, defaultValue);
  const std::string key(name);
  std::string value;
  if (!FormValue(key, value)) return std::string(defaultValue);
  std::string result = value;
  // Repeated fields come numbered: name_1, name_2, ...
  for (int i = 1; FormValue(key + "_" + std::to_string(i), value); ++i) result += "\r\n" + value;
  return result;
}

std::vector<std::string> TCGIWinEngine::GetFieldNames() {
  if (multipart_) return FieldNames(multipartContent_);
  if (UpperCase(GetRequestMethod()) != "POST") return FieldNames(GetQueryString());
  std::vector<std::string> names;
  if (!ini_) return names;
  std::set<std::string> listed;
  auto isRepeat = [&listed](const std::string& key) {
    const auto underscore = key.rfind('_');
    if (underscore == std::string::npos || underscore + 1 == key.size()) return false;
    if (key.find_first_not_of("0123456789", underscore + 1) != std::string::npos) return false;
    return listed.count(key.substr(0, underscore)) > 0;
  };
  for (const auto& section : ini_->Sections()) {
    if (section.rfind("FORM", 0) != 0) continue;
    for (const auto& key : ini_->Keys(section)) {
      if (isRepeat(key)) continue;
      listed.insert(key);
      names.push_back(key);
    }
  }
  return names;
}

void TCGIWinEngine::WriteHeader(std::string_view name, std::string_view value) {
  // The server builds the status line from the output file itself; an
  // answer other than "200 OK" tells it with a Status line.
  if (AutoHttpHeader && !RequestState().FirstHeaderLineWritten) {
    RequestState().FirstHeaderLineWritten = true;
    WriteStatusField();
  }
  std::string line;
  line.append(name).append(":").append(value).append("\r\n");
  WriteText(line);
}

int TCGIWinEngine::ReadBinary(void* buffer, int count) {
  if (count < 1 || input_ < 0) return 0;
  while (true) {
    const ssize_t n = ::read(input_, buffer, static_cast<std::size_t>(count));
    if (n < 0 && errno == EINTR) continue;
    return static_cast<int>(n);
  }
}

void TCGIWinEngine::SendToServer(const void* buffer, std::size_t count) {
  if (output_ < 0) return;
  if (failed_) throw Exception("WinCGI output file " + outputPath_ + " already failed");
  if (!platform::WriteAll(output_, buffer, count)) {
    // What was written is no answer: the server must not send it.
    const std::string why = std::strerror(errno);
    failed_ = true;
    (void)::ftruncate(output_, 0);
    throw Exception("Cannot write WinCGI output file " + outputPath_ + ": " + why);
  }
}
