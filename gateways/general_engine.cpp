#include "gateways/general_engine.h"

TEngineKind SelectEngineKind(const TCgiIO& io, const std::vector<std::string>& arguments) {
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
    auto engine = std::make_unique<TCGIStdEngine>(start.Settings, false, start.CgiAutoTerminate, std::move(start.IO));
    engine->SetHandOver(start.HandOver.Cgi);
    return engine;
  };
}

void TGeneralHttpEngine::SetEngineFactory(TEngineKind kind, TEngineFactory factory) {
  factories_[kind] = std::move(factory);
}

template <typename T>
void TGeneralHttpEngine::SetEverywhere(T THttpEngineSettings::*setting, const T& value) {
  Settings.*setting = value;
  WithCurrentEngine([&](THttpEngine& e) { e.*setting = value; });
}

void TGeneralHttpEngine::SetAutoHttpHeader(bool value) { SetEverywhere(&THttpEngineSettings::AutoHttpHeader, value); }
void TGeneralHttpEngine::SetAutoContentType(const std::string& value) {
  SetEverywhere(&THttpEngineSettings::AutoContentType, value);
}
void TGeneralHttpEngine::SetAutoReadInput(bool value) { SetEverywhere(&THttpEngineSettings::AutoReadInput, value); }
void TGeneralHttpEngine::SetAutoReadLimit(int value) {
  SetEverywhere(&THttpEngineSettings::AutoReadLimit, static_cast<std::int32_t>(value));
}
void TGeneralHttpEngine::SetBufferedOutput(bool value) { SetEverywhere(&THttpEngineSettings::BufferedOutput, value); }
void TGeneralHttpEngine::SetTempDir(const std::string& value) { SetEverywhere(&THttpEngineSettings::TempDir, value); }
void TGeneralHttpEngine::SetSessionName(const std::string& value) {
  SetEverywhere(&THttpEngineSettings::SessionName, value);
}
void TGeneralHttpEngine::SetNoCache(bool value) { SetEverywhere(&THttpEngineSettings::NoCache, value); }

TEngineKind TGeneralHttpEngine::Loaded(TCgiIO io, const std::vector<std::string>& arguments) {
  RegisterHttpProcTable();
  const TEngineKind kind = Settings.HostedLibrary ? TEngineKind::None : SelectEngineKind(io, arguments);
  if (engine_ || CurrentHttpEngine()) return kind;
  const auto factory = factories_.find(kind);
  if (factory == factories_.end() || !factory->second) return kind;
  TEngineStart start{Settings, CgiAutoTerminate, std::move(io), arguments, HandOver};
  engine_ = factory->second(start);
  if (engine_) engine_->Start();
  return kind;
}

std::string TGeneralHttpEngine::GetServerName() { return WithCurrentEngine([](THttpEngine& e) { return e.GetServerName(); }); }
std::string TGeneralHttpEngine::GetServerSoftware() {
  return WithCurrentEngine([](THttpEngine& e) { return e.GetServerSoftware(); });
}
std::string TGeneralHttpEngine::GetQueryString() {
  std::string value = HttpQueryString();
  return value == kNotAvailable ? std::string() : value;
}
std::string TGeneralHttpEngine::GetRemoteAddr() { return WithCurrentEngine([](THttpEngine& e) { return e.GetRemoteAddr(); }); }
std::string TGeneralHttpEngine::GetRemoteUser() {
  return WithCurrentEngine([](THttpEngine& e) { return e.GetServerVariable("Remote User"); });
}
std::string TGeneralHttpEngine::GetScriptName() { return WithCurrentEngine([](THttpEngine& e) { return e.GetScriptName(); }); }
std::string TGeneralHttpEngine::GetExecutablePath() { return HttpExecutablePath(); }
std::string TGeneralHttpEngine::GetServerVariable(std::string_view name) { return HttpServerVariable(name); }
std::string TGeneralHttpEngine::GetFieldValue(std::string_view name, std::string_view defaultValue) {
  return HttpFieldValue(name, defaultValue);
}
std::vector<std::string> TGeneralHttpEngine::GetFieldNames() {
  return WithCurrentEngine([](THttpEngine& e) { return e.GetFieldNames(); });
}
void TGeneralHttpEngine::WriteText(std::string_view text) { HttpWriteText(text); }
void TGeneralHttpEngine::WriteBinary(const void* buffer, std::size_t count) { HttpWriteBinary(buffer, count); }
void TGeneralHttpEngine::WriteHeader(std::string_view name, std::string_view value) { HttpWriteHeader(name, value); }
void TGeneralHttpEngine::EndHeader() {
  WithCurrentEngine([](THttpEngine& e) { e.EndHeader(); });
}
int TGeneralHttpEngine::ReadBinary(void* buffer, int count) { return HttpReadBinary(buffer, count); }
