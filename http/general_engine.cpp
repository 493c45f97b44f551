#include "http/general_engine.h"

TEngineKind SelectEngineKind(const TCgiIO& io, const std::vector<std::string>& arguments) {
  if (kIsLibrary) return TEngineKind::None;
  const bool softwareSet = !ReadCgiEnvironment(io, "SERVER_SOFTWARE").empty();
  const bool winCgi = UpperCase(ReadCgiEnvironment(io, "CGI_VERSION")).find("WIN") != std::string::npos;
  const bool serverStart = (!softwareSet && arguments.empty()) ||
                           (!arguments.empty() && arguments.front() == "START_SERVER");
  const bool fastCgi = io.InputListening || (!arguments.empty() && arguments.front() == "--fastcgi");
  if (fastCgi) return TEngineKind::FastCgi;
  if (serverStart) return TEngineKind::ResidentServer;
  if (softwareSet && !winCgi) return TEngineKind::StandardCgi;
  return TEngineKind::WinCgi;
}

TGeneralHttpEngine::TGeneralHttpEngine() {
  Settings.AutoHttpHeader = true;
  Settings.AutoContentType = "text/html";
  Settings.AutoReadInput = true;
  Settings.AutoReadLimit = 10000;
  Settings.BufferedOutput = false;
  Settings.CGIMode = TCGIMode::NormalMode;
  Settings.SessionName = "DefaultSession";
  Settings.NoCache = false;
  factories_[TEngineKind::StandardCgi] = [](TEngineStart& start) -> std::unique_ptr<THttpEngine> {
    return std::make_unique<TCGIStdEngine>(start.Settings, false, start.CgiAutoTerminate, std::move(start.IO));
  };
}

void TGeneralHttpEngine::SetEngineFactory(TEngineKind kind, TEngineFactory factory) {
  factories_[kind] = std::move(factory);
}

template <typename F>
void TGeneralHttpEngine::Forward(F&& apply) {
  if (auto* engine = CurrentHttpEngine()) apply(*engine);
}

void TGeneralHttpEngine::SetAutoHttpHeader(bool value) {
  Settings.AutoHttpHeader = value;
  Forward([&](THttpEngine& e) { e.AutoHttpHeader = value; });
}
void TGeneralHttpEngine::SetAutoContentType(const std::string& value) {
  Settings.AutoContentType = value;
  Forward([&](THttpEngine& e) { e.AutoContentType = value; });
}
void TGeneralHttpEngine::SetAutoReadInput(bool value) {
  Settings.AutoReadInput = value;
  Forward([&](THttpEngine& e) { e.AutoReadInput = value; });
}
void TGeneralHttpEngine::SetAutoReadLimit(int value) {
  Settings.AutoReadLimit = value;
  Forward([&](THttpEngine& e) { e.AutoReadLimit = value; });
}
void TGeneralHttpEngine::SetBufferedOutput(bool value) {
  Settings.BufferedOutput = value;
  Forward([&](THttpEngine& e) { e.BufferedOutput = value; });
}
void TGeneralHttpEngine::SetTempDir(const std::string& value) {
  Settings.TempDir = value;
  Forward([&](THttpEngine& e) { e.TempDir = value; });
}
void TGeneralHttpEngine::SetSessionName(const std::string& value) {
  Settings.SessionName = value;
  Forward([&](THttpEngine& e) { e.SessionName = value; });
}
void TGeneralHttpEngine::SetNoCache(bool value) {
  Settings.NoCache = value;
  Forward([&](THttpEngine& e) { e.NoCache = value; });
}

TEngineKind TGeneralHttpEngine::Loaded(TCgiIO io, const std::vector<std::string>& arguments) {
  RegisterHttpProcTable();
  const TEngineKind kind = SelectEngineKind(io, arguments);
  if (engine_ || CurrentHttpEngine()) return kind;
  const auto factory = factories_.find(kind);
  if (factory == factories_.end() || !factory->second) return kind;
  TEngineStart start{Settings, CgiAutoTerminate, std::move(io), arguments};
  engine_ = factory->second(start);
  if (engine_) engine_->Start();
  return kind;
}

std::string TGeneralHttpEngine::GetServerName() {
  auto* e = CurrentHttpEngine();
  return e ? e->GetServerName() : std::string();
}
std::string TGeneralHttpEngine::GetServerSoftware() {
  auto* e = CurrentHttpEngine();
  return e ? e->GetServerSoftware() : std::string();
}
std::string TGeneralHttpEngine::GetQueryString() {
  auto* e = CurrentHttpEngine();
  std::string value = e ? e->GetQueryString() : std::string();
  return value == kNotAvailable ? std::string() : value;
}
std::string TGeneralHttpEngine::GetRemoteAddr() {
  auto* e = CurrentHttpEngine();
  return e ? e->GetRemoteAddr() : std::string();
}
std::string TGeneralHttpEngine::GetRemoteUser() {
  auto* e = CurrentHttpEngine();
  return e ? e->GetServerVariable("Remote User") : std::string();
}
std::string TGeneralHttpEngine::GetScriptName() {
  auto* e = CurrentHttpEngine();
  return e ? e->GetScriptName() : std::string();
}
std::string TGeneralHttpEngine::GetExecutablePath() {
  auto* e = CurrentHttpEngine();
  return e ? e->GetExecutablePath() : std::string();
}
std::string TGeneralHttpEngine::GetServerVariable(std::string_view name) { return HttpServerVariable(name); }
std::string TGeneralHttpEngine::GetFieldValue(std::string_view name, std::string_view defaultValue) {
  return HttpFieldValue(name, defaultValue);
}
std::vector<std::string> TGeneralHttpEngine::GetFieldNames() {
  auto* e = CurrentHttpEngine();
  return e ? e->GetFieldNames() : std::vector<std::string>();
}
void TGeneralHttpEngine::WriteText(std::string_view text) { HttpWriteText(text); }
void TGeneralHttpEngine::WriteBinary(const void* buffer, std::size_t count) { HttpWriteBinary(buffer, count); }
void TGeneralHttpEngine::WriteHeader(std::string_view name, std::string_view value) { HttpWriteHeader(name, value); }
void TGeneralHttpEngine::EndHeader() {
  if (auto* e = CurrentHttpEngine()) e->EndHeader();
}
int TGeneralHttpEngine::ReadBinary(void* buffer, int count) { return HttpReadBinary(buffer, count); }
